// A read cancelled when its reader stops is finished by the system only later, and may write to
// the reader's buffer and the device's block until then: the reader must not end before that.
// The simulated platform is wrapped so that its cancel leaves the read pending for a while.
#include "tests/hid/HidTestSupport.h"

#include <atomic>
#include <thread>

namespace {

struct SlowCancel {
    static inline const HidPlatform* Base = nullptr;
    static inline OVERLAPPED* LastBlock = nullptr;
    static inline std::atomic<bool> Finished{false};
    static inline std::thread Finisher;

    static BOOL WINAPI ReadFileEx(HANDLE File, void* Buffer, DWORD Length, OVERLAPPED* Block,
                                  LPOVERLAPPED_COMPLETION_ROUTINE Routine) {
        LastBlock = Block;
        return Base->ReadFileEx(File, Buffer, Length, Block, Routine);
    }

    static BOOL WINAPI CancelIo(HANDLE File) {
        HMODULE kernel = Base->GetModuleHandleA("kernel32.dll");
        auto cancel = reinterpret_cast<TCancelIo>(Base->GetProcAddress(kernel, "CancelIo"));
        const BOOL ok = cancel(File);
        OVERLAPPED* block = LastBlock;
        if (ok && block != nullptr && block->Internal == ERROR_OPERATION_ABORTED) {
            // Still in the system's hands for another 80 ms.
            __atomic_store_n(&block->Internal, ULONG_PTR{0x103}, __ATOMIC_SEQ_CST);
            Finisher = std::thread([block] {
                std::this_thread::sleep_for(std::chrono::milliseconds(80));
                Finished = true;
                __atomic_store_n(&block->Internal, ULONG_PTR{ERROR_OPERATION_ABORTED},
                                 __ATOMIC_SEQ_CST);
            });
        }
        return ok;
    }

    static void* WINAPI GetProcAddress(HMODULE Module, LPCSTR Name) {
        void* entry = Base->GetProcAddress(Module, Name);
        if (entry != nullptr && std::string(Name) == "CancelIo")
            return reinterpret_cast<void*>(&SlowCancel::CancelIo);
        return entry;
    }
};

class CancelledReadTest : public HidFixture {
protected:
    void SetUp() override {
        SlowCancel::Base = Sim.Platform();
        SlowCancel::LastBlock = nullptr;
        SlowCancel::Finished = false;
        Wrapped = *SlowCancel::Base;
        Wrapped.ReadFileEx = &SlowCancel::ReadFileEx;
        Wrapped.GetProcAddress = &SlowCancel::GetProcAddress;
        SetHidPlatform(&Wrapped);
    }
    void TearDown() override {
        if (SlowCancel::Finisher.joinable()) SlowCancel::Finisher.join();
        HidFixture::TearDown();
    }
    HidPlatform Wrapped{};
};

TEST_F(CancelledReadTest, StoppingTheReaderWaitsUntilTheCancelledReadHasFinished) {
    Sim.Plug(MakeDevice("/dev/r"));
    auto c = Started();
    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(c->CheckOutByIndex(d, 0));
    d->SetReadSleepTime(10);
    struct Sink {
        void Data(TJvHidDevice*, uint8_t, const void*, uint16_t) {}
    } sink;
    d->SetOnData(TJvHidDataEvent(&sink, &Sink::Data));
    ASSERT_TRUE(PumpUntil([&] { return Sim.PendingReadCount() == 1; }));
    d->StopReader();
    EXPECT_EQ(Sim.CancelCount(), 1);
    EXPECT_TRUE(SlowCancel::Finished);
    EXPECT_FALSE(d->OverlappedReadPending());
    delete d;
}

} // namespace
