// The keyer reader's wait on the port, against the emulated keyer on a pty: it has no
// time-out of its own, the close's interrupt ends it at once, and a byte is never taken from
// the port without being handed on.
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "keyer/serial_port.h"
#include "tools/keyer_sim/keyer_sim.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class KeyerPortWaitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_ = std::make_unique<keyer_sim::KeyerSim>();
        ASSERT_TRUE(sim_->Start());
        ASSERT_EQ(port_.Open(1, KeyerPortPlace{sim_->PortPath()}), 0);
        port_.SetReadTimeout(10);  // as in host mode
    }

    void TearDown() override {
        port_.InterruptWait();
        if (waiter_.joinable()) {
            waiter_.join();
        }
        port_.Close();
        sim_->Stop();
    }

    // One wait on its own thread, as the keyer reader waits.
    void StartWaiting() {
        waiter_ = std::thread([this] {
            uint8_t byte = 0;
            const int result = port_.WaitForByte(&byte);
            waited_byte_ = byte;
            result_ = result;
        });
    }
    // The wait's result once it has returned; a wait that never returns fails the test by
    // its time-out.
    int WaitResult() {
        waiter_.join();
        return result_.load();
    }

    std::unique_ptr<keyer_sim::KeyerSim> sim_;
    SerialPort port_;
    std::thread waiter_;
    std::atomic<int> result_{-1};
    std::atomic<uint8_t> waited_byte_{0};
};

TEST_F(KeyerPortWaitTest, WaitOutlastsTheReadTimeOutAndEndsWithTheByte) {
    StartWaiting();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(result_.load(), -1) << "the wait ended with nothing to read";
    sim_->Inject({0x41});
    EXPECT_EQ(WaitResult(), kPortByteRead);
    EXPECT_EQ(waited_byte_.load(), 0x41);
}

// The close interrupts the reader and then needs the writer's host close on the wire: the
// interrupt ends this wait and every later one until the next open, leaves a byte that came
// with it on the port, and lets writes through.
TEST_F(KeyerPortWaitTest, InterruptEndsTheWaitLeavesTheByteAndLetsWritesThrough) {
    StartWaiting();
    std::this_thread::sleep_for(50ms);
    port_.InterruptWait();
    EXPECT_EQ(WaitResult(), kPortWaitEnded);

    sim_->Inject({0x42});
    std::this_thread::sleep_for(50ms);
    uint8_t byte = 0;
    EXPECT_EQ(port_.WaitForByte(&byte), kPortWaitEnded);
    EXPECT_EQ(port_.Read(&byte, 1), 1);
    EXPECT_EQ(byte, 0x42);

    EXPECT_EQ(port_.Write(std::vector<uint8_t>{0x00, 0x03}.data(), 2), 1);
    EXPECT_TRUE(sim_->WaitForReceived(2, 2s));
    EXPECT_EQ(sim_->Received(), (std::vector<uint8_t>{0x00, 0x03}));

    port_.Close();
    ASSERT_EQ(port_.Open(1, KeyerPortPlace{sim_->PortPath()}), 0);
    sim_->Inject({0x43});
    EXPECT_EQ(port_.WaitForByte(&byte), kPortByteRead);
    EXPECT_EQ(byte, 0x43);
}

// A dead port fails every wait at once, and says so; the wait still takes the read
// time-out, or the reader would spin, but the interrupt ends even that at once.
TEST_F(KeyerPortWaitTest, UnpluggedKeyerPacesTheWaitAndTheInterruptStillEndsIt) {
    ASSERT_EQ(sim_->Command("unplug"), "ok");
    port_.SetReadTimeout(100);
    uint8_t byte = 0;
    const auto start = Clock::now();
    EXPECT_EQ(port_.WaitForByte(&byte), kPortFailed);
    EXPECT_GE(Clock::now() - start, 90ms);

    port_.SetReadTimeout(600000);
    StartWaiting();
    std::this_thread::sleep_for(50ms);
    port_.InterruptWait();
    EXPECT_EQ(WaitResult(), kPortWaitEnded);
}

}  // namespace
