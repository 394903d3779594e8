// The contract: what every platform's entries do, including on a device that has gone.
#include "tests/hid/contract/PlatformContract.h"
#include "tests/hid/CompletionRecorder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <thread>

namespace {

using namespace contract;

// {4D1E55B2-F16F-11CF-88CB-001111000030}
constexpr GUID kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

using GetGuidFn = void(WINAPI*)(GUID*);
using ClassDevsFn = HDEVINFO(WINAPI*)(const GUID*, LPCSTR, HWND, DWORD);
using EnumFn = BOOL(WINAPI*)(HDEVINFO, SP_DEVINFO_DATA*, const GUID*, DWORD,
                             SP_DEVICE_INTERFACE_DATA*);
using DetailFn = BOOL(WINAPI*)(HDEVINFO, SP_DEVICE_INTERFACE_DATA*,
                               SP_DEVICE_INTERFACE_DETAIL_DATA_A*, DWORD, DWORD*, SP_DEVINFO_DATA*);
using PropertyFn = BOOL(WINAPI*)(HDEVINFO, SP_DEVINFO_DATA*, DWORD, DWORD*, BYTE*, DWORD, DWORD*);
using DestroyFn = BOOL(WINAPI*)(HDEVINFO);
using AttributesFn = BOOLEAN(WINAPI*)(HANDLE, HIDD_ATTRIBUTES*);
using BufferFn = BOOLEAN(WINAPI*)(HANDLE, PVOID, ULONG);
using PreparsedFn = BOOLEAN(WINAPI*)(HANDLE, PHIDP_PREPARSED_DATA*);
using FreeFn = BOOLEAN(WINAPI*)(PHIDP_PREPARSED_DATA);
using CapsFn = NTSTATUS(WINAPI*)(PHIDP_PREPARSED_DATA, HIDP_CAPS*);
using SetBuffersFn = BOOLEAN(WINAPI*)(HANDLE, ULONG);
using GetBuffersFn = BOOLEAN(WINAPI*)(HANDLE, ULONG*);
using CancelFn = BOOL(WINAPI*)(HANDLE);

constexpr size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

// The target with both libraries loaded, and their entries by name.
class Contract {
public:
    explicit Contract(const ContractPlatform& P) : T(P.Make()), Sys(T->Platform()) {
        SetupApi = Sys.LoadLibraryA("SetupApi.dll");
        Hid = Sys.LoadLibraryA("HID.dll");
    }
    ~Contract() {
        if (Hid != nullptr) Sys.FreeLibrary(Hid);
        if (SetupApi != nullptr) Sys.FreeLibrary(SetupApi);
    }
    template <class F> F Setup(const char* Name) {
        return reinterpret_cast<F>(Sys.GetProcAddress(SetupApi, Name));
    }
    template <class F> F HidEntry(const char* Name) {
        return reinterpret_cast<F>(Sys.GetProcAddress(Hid, Name));
    }
    DWORD Error() { return Sys.GetLastError(); }
    HANDLE Open(const std::string& Path, DWORD Access, DWORD Flags = 0) {
        return Sys.CreateFileA(Path.c_str(), Access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, Flags, nullptr);
    }
    // The paths of the present HID interfaces, in walk order.
    std::vector<std::string> Walk() {
        auto classDevs = Setup<ClassDevsFn>("SetupDiGetClassDevsA");
        auto enumerate = Setup<EnumFn>("SetupDiEnumDeviceInterfaces");
        auto detail = Setup<DetailFn>("SetupDiGetDeviceInterfaceDetailA");
        auto destroy = Setup<DestroyFn>("SetupDiDestroyDeviceInfoList");
        std::vector<std::string> paths;
        HDEVINFO set =
            classDevs(&kHidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        EXPECT_NE(set, INVALID_HANDLE_VALUE);
        if (set == INVALID_HANDLE_VALUE) return paths;
        SP_DEVICE_INTERFACE_DATA iface{};
        iface.cbSize = sizeof iface;
        for (DWORD i = 0; enumerate(set, nullptr, &kHidGuid, i, &iface); ++i) {
            DWORD needed = 0;
            SP_DEVINFO_DATA info{};
            info.cbSize = sizeof info;
            EXPECT_FALSE(detail(set, &iface, nullptr, 0, &needed, &info));
            EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
            if (needed <= kPathOffset || needed > 4096) {
                ADD_FAILURE() << "detail size " << needed;
                continue;
            }
            std::vector<char> buffer(needed + 1, '\x7F');
            auto* d = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
            d->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            EXPECT_TRUE(detail(set, &iface, d, needed, nullptr, &info));
            EXPECT_EQ(buffer[needed], '\x7F') << "written past the stated size";
            paths.emplace_back(d->DevicePath);
            EXPECT_GE(needed, paths.back().size() + 1 + kPathOffset);
        }
        EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        EXPECT_TRUE(destroy(set));
        EXPECT_FALSE(destroy(set));
        EXPECT_EQ(Error(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        return paths;
    }
    std::u16string String(HANDLE H, const char* Entry, bool& Ok) {
        std::array<char16_t, 260> text;
        text.fill(u'?');
        Ok = HidEntry<BufferFn>(Entry)(H, text.data(), 508) != 0;
        if (!Ok) {
            EXPECT_EQ(text[0], u'?') << "a failed call wrote to the buffer";
            return {};
        }
        EXPECT_EQ(text[254], u'?') << "written past 508 bytes";
        size_t n = 0;
        while (n < 254 && text[n] != 0) ++n;
        return std::u16string(text.data(), n);
    }

    std::unique_ptr<ContractTarget> T;
    const HidPlatform& Sys;
    HMODULE SetupApi = nullptr;
    HMODULE Hid = nullptr;
};

std::u16string Wide(const std::string& Ascii) {
    return std::u16string(Ascii.begin(), Ascii.end());
}

#define NEEDS(Reason)                                                                              \
    do {                                                                                           \
        if (const std::string why = (Reason); !why.empty()) {                                      \
            GTEST_SKIP() << why;                                                                   \
        }                                                                                          \
    } while (0)

TEST_P(PlatformContract, LibrariesLoadByNameAndBindEveryEntry) {
    Contract c(GetParam());
    ASSERT_NE(c.SetupApi, nullptr);
    ASSERT_NE(c.Hid, nullptr);
    HMODULE again = c.Sys.LoadLibraryA("hid"); // any case, ".dll" implied
    EXPECT_EQ(again, c.Hid);
    EXPECT_TRUE(c.Sys.FreeLibrary(again));
    for (const char* name :
         {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailA",
          "SetupDiGetDeviceRegistryPropertyA", "SetupDiDestroyDeviceInfoList"})
        EXPECT_NE(c.Sys.GetProcAddress(c.SetupApi, name), nullptr) << name;
    for (const char* name : {"HidD_GetHidGuid", "HidD_GetAttributes", "HidD_GetManufacturerString",
                             "HidD_GetProductString", "HidD_GetFeature", "HidD_SetFeature",
                             "HidD_GetPreparsedData", "HidD_FreePreparsedData",
                             "HidD_SetNumInputBuffers", "HidD_GetNumInputBuffers", "HidP_GetCaps"})
        EXPECT_NE(c.Sys.GetProcAddress(c.Hid, name), nullptr) << name;
    EXPECT_EQ(c.Sys.GetProcAddress(c.Hid, "HidD_NoSuchEntry"), nullptr);
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    HMODULE kernel = c.Sys.GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(c.Sys.GetProcAddress(kernel, "CancelIo"), nullptr);
    EXPECT_EQ(c.Sys.LoadLibraryA("ormelix-no-such-library.dll"), nullptr);
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    GUID guid{};
    c.HidEntry<GetGuidFn>("HidD_GetHidGuid")(&guid);
    EXPECT_EQ(std::memcmp(&guid, &kHidGuid, sizeof guid), 0);
}

TEST_P(PlatformContract, WalkEndsWithNoMoreItemsAndItsSetIsDestroyedOnce) {
    Contract c(GetParam());
    ASSERT_NE(c.SetupApi, nullptr);
    const std::vector<std::string> paths = c.Walk();
    RecordProperty("Interfaces", static_cast<int>(paths.size()));
    if (c.T->NoDevice().empty()) {
        EXPECT_EQ(std::count(paths.begin(), paths.end(), c.T->DevicePath()), 1);
    }
}

TEST_P(PlatformContract, MissingPathDoesNotOpen) {
    Contract c(GetParam());
    for (DWORD access : {GENERIC_READ | GENERIC_WRITE, DWORD{0}}) {
        EXPECT_EQ(c.Open(c.T->MissingPath(), access), INVALID_HANDLE_VALUE) << access;
        EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << access;
    }
}

TEST_P(PlatformContract, SleepWithoutAReadOnlyWaits) {
    Contract c(GetParam());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.Sys.SleepEx(30, TRUE), 0u);
    EXPECT_EQ(c.Sys.SleepEx(0, FALSE), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
}

TEST_P(PlatformContract, QueryOnlyHandleAnswersIdentityStringsAndCaps) {
    Contract c(GetParam());
    NEEDS(c.T->NoDevice());
    HANDLE h = c.Open(c.T->DevicePath(), 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);

    HIDD_ATTRIBUTES a{};
    a.Size = sizeof a;
    ASSERT_TRUE(c.HidEntry<AttributesFn>("HidD_GetAttributes")(h, &a));
    EXPECT_EQ(a.VendorID, kVendorId);
    EXPECT_EQ(a.ProductID, kProductId);
    EXPECT_EQ(a.VersionNumber, kVersion);
    bool ok = false;
    EXPECT_EQ(c.String(h, "HidD_GetManufacturerString", ok), Wide(kManufacturer));
    EXPECT_TRUE(ok);
    EXPECT_EQ(c.String(h, "HidD_GetProductString", ok), Wide(kProduct));
    EXPECT_TRUE(ok);

    PHIDP_PREPARSED_DATA pp{};
    ASSERT_TRUE(c.HidEntry<PreparsedFn>("HidD_GetPreparsedData")(h, &pp));
    HIDP_CAPS caps{};
    ASSERT_EQ(c.HidEntry<CapsFn>("HidP_GetCaps")(pp, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.UsagePage, kUsagePage);
    EXPECT_EQ(caps.Usage, kUsage);
    EXPECT_EQ(caps.FeatureReportByteLength, kFeatureLength);
    auto freeData = c.HidEntry<FreeFn>("HidD_FreePreparsedData");
    EXPECT_TRUE(freeData(pp));
    EXPECT_FALSE(freeData(pp));
    EXPECT_EQ(c.HidEntry<CapsFn>("HidP_GetCaps")(pp, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);

    auto setBuffers = c.HidEntry<SetBuffersFn>("HidD_SetNumInputBuffers");
    ULONG buffers = 0;
    EXPECT_FALSE(setBuffers(h, 1));
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(setBuffers(h, 16));
    ASSERT_TRUE(c.HidEntry<GetBuffersFn>("HidD_GetNumInputBuffers")(h, &buffers));
    EXPECT_EQ(buffers, 16u);

    // No read or write access, so no report passes.
    std::array<uint8_t, kFeatureLength> report{};
    for (const char* entry : {"HidD_GetFeature", "HidD_SetFeature"}) {
        EXPECT_FALSE(c.HidEntry<BufferFn>(entry)(h, report.data(), kFeatureLength)) << entry;
        EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << entry;
    }

    EXPECT_TRUE(c.Sys.CloseHandle(h));
    EXPECT_FALSE(c.Sys.CloseHandle(h));
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(c.HidEntry<AttributesFn>("HidD_GetAttributes")(h, &a));
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_P(PlatformContract, StringOf254UnitsFillsTheBufferWithoutNul) {
    Contract c(GetParam());
    NEEDS(c.T->NoDevice());
    NEEDS(c.T->NoProductChange());
    c.T->SetProduct(std::string(254, 'Z'));
    HANDLE h = c.Open(c.T->DevicePath(), 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    bool ok = false;
    EXPECT_EQ(c.String(h, "HidD_GetProductString", ok), std::u16string(254, u'Z'));
    EXPECT_TRUE(ok);
    c.Sys.CloseHandle(h);
}

TEST_P(PlatformContract, PulledDeviceLeavesTheWalkAndItsHandleAnswersNotConnected) {
    Contract c(GetParam());
    NEEDS(c.T->NoDevice());
    HANDLE h = c.Open(c.T->DevicePath(), 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    c.T->Pull();
    EXPECT_EQ(c.Walk(), std::vector<std::string>{});
    EXPECT_EQ(c.Open(c.T->DevicePath(), 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HIDD_ATTRIBUTES a{};
    a.Size = sizeof a;
    EXPECT_FALSE(c.HidEntry<AttributesFn>("HidD_GetAttributes")(h, &a));
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    for (const char* entry : {"HidD_GetManufacturerString", "HidD_GetProductString"}) {
        bool ok = true;
        c.String(h, entry, ok);
        EXPECT_FALSE(ok) << entry;
        EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)) << entry;
    }
    EXPECT_TRUE(c.Sys.CloseHandle(h)); // the handle itself is still the caller's to close
}

TEST_P(PlatformContract, FeatureReportsTravelWholeBothWays) {
    Contract c(GetParam());
    NEEDS(c.T->NoFeatureReports());
    HANDLE h = c.Open(c.T->DevicePath(), GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::array<uint8_t, kFeatureLength> sent{};
    for (size_t i = 1; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(c.HidEntry<BufferFn>("HidD_SetFeature")(h, sent.data(), kFeatureLength));
    std::array<uint8_t, kFeatureLength> got{};
    ASSERT_TRUE(c.HidEntry<BufferFn>("HidD_GetFeature")(h, got.data(), kFeatureLength));
    EXPECT_EQ(got, sent); // byte 0 is the report ID both ways
    c.T->Pull();
    EXPECT_FALSE(c.HidEntry<BufferFn>("HidD_GetFeature")(h, got.data(), kFeatureLength));
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    c.Sys.CloseHandle(h);
}

// --- overlapped reads

using hidtest::Completion;
using hidtest::Record;
using hidtest::tDone;

class Reader {
public:
    explicit Reader(Contract& C) : C(C), Handle(C.T->OpenReadHandle()) { tDone = {}; }
    ~Reader() {
        if (Handle != INVALID_HANDLE_VALUE) C.Sys.CloseHandle(Handle);
    }
    BOOL Start(DWORD Length = kInputLength) {
        Buffer.assign(Length, 0xEE);
        return C.Sys.ReadFileEx(Handle, Buffer.data(), Length, &Block, Record);
    }
    // GetOverlappedResult's answer, with the count it gives.
    BOOL Result(DWORD& Count) { return C.Sys.GetOverlappedResult(Handle, &Block, &Count, FALSE); }

    Contract& C;
    HANDLE Handle;
    std::vector<uint8_t> Buffer;
    OVERLAPPED Block{};
};

TEST_P(PlatformContract, ReadCompletesInTheAlertableWaitWithTheReportIdFirst) {
    Contract c(GetParam());
    NEEDS(c.T->NoReads());
    Reader r(c);
    ASSERT_NE(r.Handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(r.Start());
    EXPECT_EQ(c.Sys.SleepEx(20, TRUE), 0u); // nothing came yet
    DWORD count = 0;
    EXPECT_FALSE(r.Result(count));
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));

    c.T->SendInput({0x01, 0x7F, 0x80});
    EXPECT_EQ(c.Sys.SleepEx(10, FALSE), 0u); // only an alertable wait completes it
    EXPECT_EQ(tDone.Calls, 0);
    EXPECT_EQ(c.Sys.SleepEx(0, TRUE), static_cast<DWORD>(WAIT_IO_COMPLETION)); // ready: no wait
    EXPECT_EQ(tDone.Calls, 1);
    EXPECT_EQ(tDone.Error, 0u);
    EXPECT_EQ(tDone.Count, kInputLength);
    EXPECT_EQ(r.Buffer, (std::vector<uint8_t>{0x00, 0x01, 0x7F, 0x80}));
    ASSERT_TRUE(r.Result(count));
    EXPECT_EQ(count, kInputLength);
}

TEST_P(PlatformContract, ReadIntoABufferShorterThanTheReportIsRefused) {
    Contract c(GetParam());
    NEEDS(c.T->NoReads());
    NEEDS(c.T->NoReportLength());
    Reader r(c);
    EXPECT_FALSE(r.Start(kInputLength - 1));
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
}

TEST_P(PlatformContract, CancelIoEndsTheReadAbortedAndWithoutAReport) {
    Contract c(GetParam());
    NEEDS(c.T->NoReads());
    Reader r(c);
    ASSERT_TRUE(r.Start());
    auto cancel = reinterpret_cast<CancelFn>(
        c.Sys.GetProcAddress(c.Sys.GetModuleHandleA("kernel32.dll"), "CancelIo"));
    ASSERT_TRUE(cancel(r.Handle));
    c.T->SendInput({1, 2, 3});
    // Windows runs the cancelled read's routine at the next alertable wait, with the abort; the
    // Linux and simulated entries drop it. Either way the report is not its.
    const DWORD waited = c.Sys.SleepEx(10, TRUE);
    const int cancelled = tDone.Calls;
    if (cancelled == 0) {
        EXPECT_EQ(waited, 0u);
    } else {
        EXPECT_EQ(waited, static_cast<DWORD>(WAIT_IO_COMPLETION));
        EXPECT_EQ(cancelled, 1);
        EXPECT_EQ(tDone.Error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
        EXPECT_EQ(tDone.Count, 0u);
    }
    DWORD count = 7;
    EXPECT_FALSE(r.Result(count));
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    ASSERT_TRUE(r.Start()); // the thread may read again, and the report is the new read's
    EXPECT_EQ(c.Sys.SleepEx(2000, TRUE), static_cast<DWORD>(WAIT_IO_COMPLETION));
    EXPECT_EQ(tDone.Calls, cancelled + 1);
    EXPECT_EQ(tDone.Error, 0u);
    EXPECT_EQ(r.Buffer, (std::vector<uint8_t>{0, 1, 2, 3}));
}

TEST_P(PlatformContract, PulledDeviceEndsThePendingReadAndRefusesTheNext) {
    Contract c(GetParam());
    NEEDS(c.T->NoReads());
    NEEDS(c.T->NoPull());
    Reader r(c);
    ASSERT_TRUE(r.Start());
    c.T->Pull();
    EXPECT_EQ(c.Sys.SleepEx(2000, TRUE), static_cast<DWORD>(WAIT_IO_COMPLETION));
    EXPECT_EQ(tDone.Calls, 1);
    EXPECT_NE(tDone.Error, 0u);
    EXPECT_EQ(tDone.Count, 0u);
    DWORD count = 7;
    EXPECT_FALSE(r.Result(count));
    EXPECT_EQ(count, 0u);
    // Refused at the start, so the reader reports it instead of spinning on reads that fail.
    EXPECT_FALSE(r.Start());
    EXPECT_EQ(c.Error(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
}

TEST_P(PlatformContract, ClosingTheHandleEndsAnotherThreadsWaitAtOnce) {
    Contract c(GetParam());
    NEEDS(c.T->NoReads());
    HANDLE h = c.T->OpenReadHandle();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::atomic<bool> started{false};
    Completion seen;
    DWORD result = 0;
    std::thread reader([&] {
        std::vector<uint8_t> buffer(kInputLength);
        OVERLAPPED block{};
        started = c.Sys.ReadFileEx(h, buffer.data(), kInputLength, &block, Record) != FALSE;
        result = c.Sys.SleepEx(10000, TRUE);
        seen = tDone;
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto closedAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(c.Sys.CloseHandle(h));
    reader.join();
    EXPECT_LT(std::chrono::steady_clock::now() - closedAt, std::chrono::seconds(2));
    EXPECT_EQ(result, static_cast<DWORD>(WAIT_IO_COMPLETION));
    EXPECT_EQ(seen.Calls, 1);
    EXPECT_EQ(seen.Error, c.T->ClosedReadError());
}

} // namespace

std::string ContractName(const testing::TestParamInfo<ContractPlatform>& Info) {
    return Info.param.Name;
}
