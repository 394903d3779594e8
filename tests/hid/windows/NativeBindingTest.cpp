// The real Windows binding: kernel32 through the platform table, SetupApi.dll and HID.dll
// loaded and bound by name, the device object's file calls, and a controller over the machine's
// own device-setup set. Under Wine the machine normally has no HID devices.
#include "hid/Hid.h"
#include "hid/JvHidControllerClass.h"
#include "hid/SetupApi.h"
#include "hid/windows/WinHidEventLoop.h"
#include "hid/windows/WindowsHidPlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// {4D1E55B2-F16F-11CF-88CB-001111000030}
constexpr GUID kHidInterfaceGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

bool IsLoaded(const char* Module) {
    return GetModuleHandleA(Module) != nullptr;
}

std::string TempFile(const char* Name, const std::string& Content) {
    char dir[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, dir);
    std::string path = std::string(dir, n) + Name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(h, Content.data(), static_cast<DWORD>(Content.size()), &written, nullptr);
    CloseHandle(h);
    return path;
}

class NativeBinding : public ::testing::Test {
protected:
    void SetUp() override { SetHidPlatform(WindowsHidPlatform()); }
    void TearDown() override {
        EXPECT_EQ(SetupApiBindCount(), 0);
        EXPECT_EQ(HidBindCount(), 0);
        EXPECT_FALSE(HidBound());
        SetHidPlatform(nullptr);
    }
};

TEST_F(NativeBinding, PlatformTableHoldsTheKernelEntries) {
    const HidPlatform& p = *WindowsHidPlatform();
    EXPECT_EQ(&p, NativeHidPlatform());
    EXPECT_STREQ(p.Name, "windows");
    EXPECT_EQ(p.OpenDeviceMonitor(), -1); // changes come as window messages
    HMODULE kernel = p.GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_EQ(p.GetProcAddress(kernel, "CancelIo"),
              reinterpret_cast<void*>(::GetProcAddress(kernel, "CancelIo")));
    EXPECT_EQ(p.GetProcAddress(kernel, "NoSuchEntryAnywhere"), nullptr);
    EXPECT_EQ(p.GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

TEST_F(NativeBinding, HidGuidIsTheStandardInterfaceClass) {
    ASSERT_TRUE(BindSetupApi());
    ASSERT_TRUE(BindHid());
    GUID guid{};
    HidEntries.HidD_GetHidGuid(&guid);
    EXPECT_EQ(std::memcmp(&guid, &kHidInterfaceGuid, sizeof guid), 0);
    UnbindHid();
    UnbindSetupApi();
}

TEST_F(NativeBinding, TwoSetupApiBindsLoadOnceAndFreeAtTheSecondUnbind) {
    ASSERT_FALSE(IsLoaded("setupapi.dll")) << "nothing else in this program loads it";
    ASSERT_TRUE(BindSetupApi());
    HMODULE first = SetupApiEntries.Library;
    ASSERT_TRUE(BindSetupApi());
    EXPECT_EQ(SetupApiEntries.Library, first);
    EXPECT_EQ(GetModuleHandleA("setupapi.dll"), first);
    EXPECT_EQ(reinterpret_cast<void*>(SetupApiEntries.SetupDiGetClassDevsA),
              reinterpret_cast<void*>(::GetProcAddress(first, "SetupDiGetClassDevsA")));

    UnbindSetupApi();
    EXPECT_TRUE(IsLoaded("setupapi.dll"));
    EXPECT_NE(SetupApiEntries.SetupDiEnumDeviceInterfaces, nullptr);

    UnbindSetupApi();
    EXPECT_FALSE(IsLoaded("setupapi.dll"));
    EXPECT_EQ(SetupApiEntries.Library, nullptr);
    EXPECT_EQ(SetupApiEntries.SetupDiGetClassDevsA, nullptr);
}

// The real loader, with the device-setup library's name bent to a file that does not exist;
// the error mode in force during each load is recorded.
struct Redirect {
    static inline bool Missing = false;
    static inline std::vector<UINT> Modes;
    static HMODULE WINAPI LoadLibraryA(LPCSTR FileName) {
        UINT mode = ::SetErrorMode(0);
        ::SetErrorMode(mode);
        Modes.push_back(mode);
        if (Missing && std::strcmp(FileName, "SetupApi.dll") == 0)
            return ::LoadLibraryA("Ormelix-Missing-SetupApi.dll");
        return ::LoadLibraryA(FileName);
    }
};

TEST_F(NativeBinding, FailedLoadLeavesTheCountSoTheNextCallLoads) {
    HidPlatform redirected = *WindowsHidPlatform();
    redirected.LoadLibraryA = &Redirect::LoadLibraryA;
    SetHidPlatform(&redirected);
    Redirect::Modes.clear();
    const UINT before = ::SetErrorMode(SEM_FAILCRITICALERRORS);

    Redirect::Missing = true;
    EXPECT_FALSE(BindSetupApi());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(SetupApiBindCount(), 0);
    EXPECT_EQ(SetupApiEntries.Library, nullptr);
    EXPECT_FALSE(IsLoaded("setupapi.dll"));

    Redirect::Missing = false;
    EXPECT_TRUE(BindSetupApi());
    EXPECT_EQ(SetupApiBindCount(), 1);
    EXPECT_TRUE(IsLoaded("setupapi.dll"));
    UnbindSetupApi();

    // No system error box during either load, and the program's own mode back afterwards.
    EXPECT_EQ(Redirect::Modes, (std::vector<UINT>{SEM_NOOPENFILEERRORBOX, SEM_NOOPENFILEERRORBOX}));
    EXPECT_EQ(::SetErrorMode(before), static_cast<UINT>(SEM_FAILCRITICALERRORS));
}

TEST_F(NativeBinding, HidTableBindsTheMandatoryEntriesAndWhicheverOptionalOnesExist) {
    ASSERT_TRUE(BindHid());
    const THidEntries& t = HidEntries;
    ASSERT_NE(t.Library, nullptr);
    for (void* slot :
         {reinterpret_cast<void*>(t.HidD_GetHidGuid), reinterpret_cast<void*>(t.HidD_GetAttributes),
          reinterpret_cast<void*>(t.HidD_GetManufacturerString),
          reinterpret_cast<void*>(t.HidD_GetProductString),
          reinterpret_cast<void*>(t.HidD_GetFeature), reinterpret_cast<void*>(t.HidD_SetFeature),
          reinterpret_cast<void*>(t.HidD_GetPreparsedData),
          reinterpret_cast<void*>(t.HidD_FreePreparsedData),
          reinterpret_cast<void*>(t.HidD_SetNumInputBuffers),
          reinterpret_cast<void*>(t.HidD_GetNumInputBuffers),
          reinterpret_cast<void*>(t.HidP_GetCaps)})
        EXPECT_NE(slot, nullptr);
    auto lookup = [&](const char* Name) {
        return reinterpret_cast<void*>(::GetProcAddress(t.Library, Name));
    };
    EXPECT_EQ(reinterpret_cast<void*>(t.HidD_GetInputReport), lookup("HidD_GetInputReport"));
    EXPECT_EQ(reinterpret_cast<void*>(t.HidD_SetOutputReport), lookup("HidD_SetOutputReport"));
    EXPECT_EQ(reinterpret_cast<void*>(t.HidP_GetExtendedAttributes),
              lookup("HidP_GetExtendedAttributes"));
    EXPECT_EQ(reinterpret_cast<void*>(t.HidP_InitializeReportForID),
              lookup("HidP_InitializeReportForID"));
    UnbindHid();
    EXPECT_EQ(HidEntries.HidD_GetFeature, nullptr);
}

struct Completion {
    static inline DWORD Error = 0xFFFFFFFF;
    static inline DWORD Bytes = 0;
    static inline OVERLAPPED* Block = nullptr;
    static void WINAPI Routine(DWORD ErrorCode, DWORD Transferred, OVERLAPPED* Overlapped) {
        Error = ErrorCode;
        Bytes = Transferred;
        Block = Overlapped;
    }
};

// ReadFileEx, SleepEx and GetOverlappedResult through the table, with the system calling the
// completion routine back: a calling-convention slip would not survive this.
TEST_F(NativeBinding, OverlappedReadThroughTheTableCompletesInTheAlertableSleep) {
    const std::string content = "report bytes 0123456789";
    const std::string path = TempFile("ormelix-overlapped.bin", content);
    const HidPlatform& p = CurrentHidPlatform();
    HANDLE h = p.CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[64] = {};
    OVERLAPPED block{};
    Completion::Block = nullptr;
    ASSERT_TRUE(p.ReadFileEx(h, buffer, sizeof buffer, &block, &Completion::Routine));
    DWORD wait = 0;
    for (int i = 0; i < 50 && wait != WAIT_IO_COMPLETION; ++i) wait = p.SleepEx(100, TRUE);
    EXPECT_EQ(wait, static_cast<DWORD>(WAIT_IO_COMPLETION));
    EXPECT_EQ(Completion::Block, &block);
    EXPECT_EQ(Completion::Error, 0u);
    EXPECT_EQ(Completion::Bytes, content.size());
    DWORD count = 0;
    EXPECT_TRUE(p.GetOverlappedResult(h, &block, &count, FALSE));
    EXPECT_EQ(count, content.size());
    EXPECT_EQ(std::string(buffer, count), content);
    EXPECT_TRUE(p.CloseHandle(h));
    DeleteFileA(path.c_str());
}

TEST_F(NativeBinding, CancelIoIsLookedUpInKernel32AtEachCall) {
    const std::string path = TempFile("ormelix-cancel.bin", "x");
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CancelIoThroughKernel(h));
    CloseHandle(h);
    EXPECT_FALSE(CancelIoThroughKernel(h)); // closed: the system refuses it
    DeleteFileA(path.c_str());
}

struct DeviceCase {
    const char* Name;
    bool Exists; // a plain file, which opens but is no HID device
    const char* Message;
};

class NativeDevice : public NativeBinding, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(NativeDevice, ConstructionReportsWhatFailed) {
    ASSERT_TRUE(BindSetupApi());
    ASSERT_TRUE(BindHid());
    std::string path = "C:\\no-such-folder-ormelix\\hid";
    if (GetParam().Exists) path = TempFile("ormelix-not-hid.bin", "plain");
    try {
        TJvHidDevice device(std::make_shared<TJvHidPnPInfo>(1, path), nullptr);
        ADD_FAILURE() << "constructed";
    } catch (const EControllerError& e) {
        EXPECT_STREQ(e.what(), GetParam().Message);
    }
    // No handle left open on the file: it can be deleted at once.
    if (GetParam().Exists) {
        EXPECT_TRUE(DeleteFileA(path.c_str()));
    }
    UnbindHid();
    UnbindSetupApi();
}

INSTANTIATE_TEST_SUITE_P(Cases, NativeDevice,
                         ::testing::Values(DeviceCase{"Missing", false, "Device cannot be opened"},
                                           DeviceCase{"PlainFile", true,
                                                      "Device cannot be identified"}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

// The present HID interfaces, walked directly through the bound device-setup table.
int PresentHidInterfaces() {
    const TSetupApiEntries& s = SetupApiEntries;
    HDEVINFO set = s.SetupDiGetClassDevsA(&kHidInterfaceGuid, nullptr, nullptr,
                                          DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    while (s.SetupDiEnumDeviceInterfaces(set, nullptr, &kHidInterfaceGuid, n, &data)) ++n;
    s.SetupDiDestroyDeviceInfoList(set);
    return n;
}

TEST_F(NativeBinding, ControllerListsWhatTheMachinesDeviceSetupSetHolds) {
    WinHidEventLoop loop;
    {
        TJvHidDeviceController c(&loop);
        ASSERT_TRUE(HidBound());
        EXPECT_EQ(std::memcmp(&c.HidGuid(), &kHidInterfaceGuid, sizeof(GUID)), 0);
        ASSERT_NE(c.NotifyWindow(), nullptr);
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (c.LastChangeParam() != -1 && std::chrono::steady_clock::now() < end)
            WinHidEventLoop::ProcessMessages(10);
        ASSERT_EQ(c.LastChangeParam(), -1) << "the posted first change never arrived";

        const int present = PresentHidInterfaces();
        RecordProperty("PresentHidInterfaces", present);
        // Interfaces that cannot be opened or identified are left out, nothing else.
        EXPECT_LE(c.Count(), present);
        if (present == 0) {
            EXPECT_EQ(c.Count(), 0);
        }
        // The strings are read inside the walk, through the device's own handle.
        struct Walk {
            std::vector<std::u16string> Products;
            bool Step(TJvHidDevice* D, int) {
                Products.push_back(D->ProductName());
                return true;
            }
        } walk;
        c.SetOnEnumerate(TJvHidEnumerateEvent(&walk, &Walk::Step));
        EXPECT_EQ(c.Enumerate(), c.Count());
        ASSERT_EQ(walk.Products.size(), static_cast<size_t>(c.Count()));
        for (size_t i = 0; i < walk.Products.size(); ++i) {
            TJvHidDevice* d = c.Items(static_cast<int>(i));
            EXPECT_FALSE(d->PnPInfo().DevicePath.empty());
            EXPECT_TRUE(d->IsPluggedIn());
            EXPECT_EQ(d->SyncHandle(), INVALID_HANDLE_VALUE); // closed again after the walk
            EXPECT_LE(walk.Products[i].size(), 254u);
            EXPECT_EQ(walk.Products[i].find(u'\0'), std::u16string::npos);
            EXPECT_EQ(d->ProductName(), walk.Products[i]); // from the cache now
        }
        TJvHidDevice* none = nullptr;
        EXPECT_FALSE(c.CheckOutByIndex(none, c.Count()));
    }
    EXPECT_FALSE(IsLoaded("setupapi.dll"));
}

struct ReadSink {
    int Data = 0;
    std::vector<uint32_t> Errors;
    void OnData(TJvHidDevice*, uint8_t, const void*, uint16_t) { ++Data; }
    void OnError(TJvHidDevice*, uint32_t Error) { Errors.push_back(Error); }
};

bool PumpUntil(const std::function<bool()>& Done, std::chrono::milliseconds Timeout) {
    auto end = std::chrono::steady_clock::now() + Timeout;
    while (!Done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        WinHidEventLoop::ProcessMessages(5);
    }
    return true;
}

// Wine has a HID mouse and keyboard of its own: a reader on one of them waits in a real
// overlapped read, and stopping it cancels that read and lets it finish before the reader ends.
TEST_F(NativeBinding, ReaderOnARealInterfaceCancelsItsPendingReadWhenStopped) {
    WinHidEventLoop loop;
    TJvHidDeviceController c(&loop);
    ASSERT_TRUE(PumpUntil([&] { return c.LastChangeParam() == -1; }, std::chrono::seconds(10)));
    int idx = -1;
    for (int i = 0; i < c.Count() && idx < 0; ++i)
        if (c.Items(i)->HasReadWriteAccess()) idx = i;
    if (idx < 0) GTEST_SKIP() << "no HID interface here opens for reading and writing";

    TJvHidDevice* d = nullptr;
    ASSERT_TRUE(c.CheckOutByIndex(d, idx));
    EXPECT_GT(d->Caps().InputReportByteLength, 0);
    ReadSink sink;
    d->SetReadSleepTime(10);
    d->SetOnDataError(TJvHidDataErrorEvent(&sink, &ReadSink::OnError));
    d->SetOnData(TJvHidDataEvent(&sink, &ReadSink::OnData));
    ASSERT_NE(d->ReadThread(), nullptr);
    ASSERT_TRUE(PumpUntil([&] { return d->OverlappedReadPending(); }, std::chrono::seconds(3)));

    auto start = std::chrono::steady_clock::now();
    d->SetOnData(TJvHidDataEvent());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(d->ReadThread(), nullptr);
    EXPECT_FALSE(d->OverlappedReadPending());
    EXPECT_TRUE(sink.Errors.empty());
    delete d; // checked back in: a fresh object in its place
    EXPECT_FALSE(c.Items(idx)->IsCheckedOut());
}

} // namespace
