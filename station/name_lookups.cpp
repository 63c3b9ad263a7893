#include "station/name_lookups.h"

#include <utility>

NameLookups::NameLookups(Resolve resolve) : resolve_(std::move(resolve)) {}

NameLookups::~NameLookups() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void NameLookups::LookUp(std::vector<std::string> names) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_ = std::move(names);
        if (!worker_.joinable()) {
            worker_ = std::thread([this] { Run(); });
        }
    }
    wake_.notify_one();
}

std::optional<NameLookups::Answers> NameLookups::TakeAnswers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(answers_, std::nullopt);
}

void NameLookups::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || waiting_.has_value(); });
        if (stopping_) {
            return;
        }
        const std::vector<std::string> names = std::move(*waiting_);
        waiting_.reset();
        lock.unlock();
        Answers found;
        for (const std::string& name : names) {
            found[name] = resolve_(name);
            lock.lock();
            const bool stop = stopping_;
            lock.unlock();
            if (stop) {
                return;
            }
        }
        lock.lock();
        answers_ = std::move(found);
    }
}
