#include "app/window.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

std::atomic<WindowBackend*> installed_backend{nullptr};
std::atomic<bool> seam_closed{false};
// Calls in progress, message boxes excepted.
std::atomic<int> calls_inside{0};

// Holds the backend for one call; empty once the seam is closed. The count goes up before
// the closed flag is read and the closer sets the flag before it reads the count, so either
// the caller sees the seam closed or the closer sees the caller inside.
class SeamCall {
  public:
    SeamCall() {
        calls_inside.fetch_add(1);
        if (!seam_closed.load()) {
            backend_ = installed_backend.load();
        }
    }
    ~SeamCall() { calls_inside.fetch_sub(1); }
    SeamCall(const SeamCall&) = delete;
    SeamCall& operator=(const SeamCall&) = delete;

    WindowBackend* operator->() const { return backend_; }
    WindowBackend* get() const { return backend_; }
    explicit operator bool() const { return backend_ != nullptr; }

  private:
    WindowBackend* backend_ = nullptr;
};

// Within one call of the window's thread, before `inserting` characters go in.
void MakeRoom(WindowBackend* backend, const KeptText& bounds, std::size_t inserting) {
    const int id = bounds.id;
    const auto length = static_cast<std::size_t>(std::max(backend->TextLength(id), 0));
    if (inserting == 0 || length + inserting <= static_cast<std::size_t>(bounds.limit)) {
        return;
    }
    const auto kept = static_cast<std::size_t>(bounds.after_cut);
    // An insertion longer than what is kept replaces everything and stays whole.
    std::size_t cut = inserting >= kept ? length : std::min(length, length + inserting - kept);
    if (cut > 0 && cut < length) {
        // A line break is two characters; the log pane must not start with half of one.
        const std::string text = backend->GetControlText(id);
        if (cut < text.size() && text[cut - 1] == '\r' && text[cut] == '\n') {
            ++cut;
        }
    }
    backend->SetSelection(id, 0, static_cast<int>(cut));
    backend->ReplaceSelection(id, "");
    backend->SetSelection(id, kTextEnd, kTextEnd);
}

}  // namespace

const KeptText* KeptTextOf(int id) {
    for (const KeptText& kept : kKeptTexts) {
        if (kept.id == id) {
            return &kept;
        }
    }
    return nullptr;
}

void InstallWindowBackend(WindowBackend* backend) {
    installed_backend.store(backend);
    seam_closed.store(false);
}

void CloseWindowSeam() {
    seam_closed.store(true);
    WindowBackend* backend = installed_backend.load();
    while (calls_inside.load() != 0) {
        if (backend != nullptr) {
            backend->CarryOutSentCalls();
        }
    }
    installed_backend.store(nullptr);
}

void CarryOutSentWindowCalls() {
    if (SeamCall backend; backend) {
        backend->CarryOutSentCalls();
        return;
    }
    // Closed or never opened: no call can be waiting, but the caller still wants a pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

WindowHandle MainWindowHandle() {
    SeamCall backend;
    return backend ? backend->Handle() : nullptr;
}

void SetControlText(int id, const std::string& text) {
    if (SeamCall backend; backend) {
        backend->SetControlText(id, text);
    }
}

std::string GetControlText(int id) {
    SeamCall backend;
    return backend ? backend->GetControlText(id) : std::string();
}

int ControlTextLength(int id) {
    SeamCall backend;
    return backend ? backend->TextLength(id) : 0;
}

void SetSelection(int id, int start, int end) {
    if (SeamCall backend; backend) {
        backend->SetSelection(id, start, end);
    }
}

void ReplaceSelection(int id, const std::string& text) {
    SeamCall backend;
    if (!backend) {
        return;
    }
    const KeptText* bounds = KeptTextOf(id);
    if (text.empty() || bounds == nullptr) {
        backend->ReplaceSelection(id, text);
        return;
    }
    WindowBackend* target = backend.get();
    target->RunAsOneCall([&] {
        MakeRoom(target, *bounds, text.size());
        target->ReplaceSelection(id, text);
    });
}

void AppendText(int id, const std::string& text) {
    SeamCall backend;
    if (!backend) {
        return;
    }
    WindowBackend* target = backend.get();
    target->RunAsOneCall([&] {
        target->SetSelection(id, kTextEnd, kTextEnd);
        if (const KeptText* bounds = KeptTextOf(id); bounds != nullptr) {
            MakeRoom(target, *bounds, text.size());
        }
        target->ReplaceSelection(id, text);
    });
}

void EnableControl(int id, bool enabled) {
    if (SeamCall backend; backend) {
        backend->EnableControl(id, enabled);
    }
}

void FocusControl(int id) {
    if (SeamCall backend; backend) {
        backend->FocusControl(id);
    }
}

void WarningBeep() {
    if (SeamCall backend; backend) {
        backend->WarningBeep();
    }
}

int ShowMessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
                   BoxIcon icon) {
    WindowBackend* backend = nullptr;
    {
        // A box waits for a person, so it is not counted as a call inside: the close does not
        // wait for it. Its text and owner are its own; it never touches the Main window.
        SeamCall call;
        backend = call ? installed_backend.load() : nullptr;
    }
    return backend != nullptr ? backend->ShowMessageBox(owner, text, caption, icon) : 0;
}

bool AskYesNo(WindowHandle owner, const std::string& text, const std::string& caption) {
    WindowBackend* backend = nullptr;
    {
        // A box: see ShowMessageBox.
        SeamCall call;
        backend = call ? installed_backend.load() : nullptr;
    }
    return backend != nullptr && backend->AskYesNo(owner, text, caption);
}
