// The device-setup entries over a snapshot of the hidraw nodes present when the set was made.
// Each node is one HID interface; everything a caller can ask about it is read at that moment,
// so a set stays consistent however the devices change afterwards.
#include "hid/linux/HidLinuxHelpers.h"
#include "hid/linux/LinuxHidInternal.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

namespace hidlinux {

namespace {

struct DeviceSet {
    std::vector<InterfaceRecord> Records;
};

HandleRegistry<DeviceSet>& Sets() {
    static HandleRegistry<DeviceSet> sets;
    return sets;
}

bool SameGuid(const GUID& A, const GUID& B) {
    return std::memcmp(&A, &B, sizeof(GUID)) == 0;
}

RegistryValue Text(const std::string& Value) {
    RegistryValue v{REG_SZ, {}};
    v.Bytes.assign(Value.begin(), Value.end());
    v.Bytes.push_back(0);
    return v;
}

RegistryValue TextList(const std::vector<std::string>& Values) {
    RegistryValue v{REG_MULTI_SZ, {}};
    for (const std::string& s : Values) {
        v.Bytes.insert(v.Bytes.end(), s.begin(), s.end());
        v.Bytes.push_back(0);
    }
    v.Bytes.push_back(0);
    return v;
}

RegistryValue Number(uint32_t Value) {
    RegistryValue v{REG_DWORD, std::vector<uint8_t>(4)};
    for (int i = 0; i < 4; ++i) v.Bytes[i] = static_cast<uint8_t>(Value >> (8 * i));
    return v;
}

std::optional<uint32_t> Decimal(const std::optional<std::string>& Text) {
    if (!Text || Text->empty() || Text->size() > 9) return std::nullopt;
    uint32_t v = 0;
    for (char c : *Text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    return v;
}

std::string Hex4(uint32_t Value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04X", Value & 0xFFFF);
    return buffer;
}

// The records carry our token (index + 1) in Reserved. A caller that states the 32-bit size has
// room for its low 32 bits only, at the same offset.
template <class Record> void StoreToken(Record* R, ULONG_PTR Token) {
    if (R->cbSize >= sizeof(Record)) {
        R->Reserved = Token;
    } else {
        const auto low = static_cast<uint32_t>(Token);
        std::memcpy(reinterpret_cast<char*>(R) + offsetof(Record, Reserved), &low, sizeof low);
    }
}

template <class Record> ULONG_PTR LoadToken(const Record* R) {
    if (R->cbSize >= sizeof(Record)) return R->Reserved;
    uint32_t low = 0;
    std::memcpy(&low, reinterpret_cast<const char*>(R) + offsetof(Record, Reserved), sizeof low);
    return low;
}

bool ValidInterfaceData(const SP_DEVICE_INTERFACE_DATA* D) {
    return D &&
           (D->cbSize == sizeof(SP_DEVICE_INTERFACE_DATA) || D->cbSize == kWin32InterfaceDataSize);
}

bool ValidDevInfo(const SP_DEVINFO_DATA* D) {
    return D && (D->cbSize == sizeof(SP_DEVINFO_DATA) || D->cbSize == kWin32DevInfoDataSize);
}

const InterfaceRecord* FindByInstance(const DeviceSet& Set, DWORD DevInst) {
    for (const InterfaceRecord& r : Set.Records) {
        if (r.DevInst == DevInst) return &r;
    }
    return nullptr;
}

BOOL Fail(DWORD Error) {
    SetLastErrorCode(Error);
    return FALSE;
}

} // namespace

const GUID kHidInterfaceGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const GUID kHidClassGuid = {
    0x745A17A0, 0x74D3, 0x11D0, {0xB6, 0xFE, 0x00, 0xA0, 0xC9, 0x0F, 0x57, 0xDA}};
const char kHidClassGuidText[] = "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}";

InterfaceRecord DescribeInterface(const HidrawNode& Node) {
    InterfaceRecord r;
    r.DevicePath = Node.DevicePath;
    r.DevInst = DeriveDeviceInstance(Node.HidSysname, Node.Name);
    auto& p = r.Properties;

    const std::string uevent = ReadHidUevent(Node).value_or("");
    auto value = [&](std::string_view key) {
        auto v = UeventValue(uevent, key);
        return v && !v->empty() ? v : std::nullopt;
    };
    auto usb = [&](std::string_view name) {
        auto v = ReadAttribute(Node.UsbDeviceDir, name);
        return v && !v->empty() ? v : std::nullopt;
    };

    const auto hidName = value("HID_NAME");
    const auto product = usb("product");
    if (product) {
        p[SPDRP_DEVICEDESC] = Text(*product);
    } else if (hidName) {
        p[SPDRP_DEVICEDESC] = Text(*hidName);
    }
    if (hidName) p[SPDRP_FRIENDLYNAME] = Text(*hidName);
    if (auto m = usb("manufacturer")) p[SPDRP_MFG] = Text(*m);
    if (auto driver = value("DRIVER")) {
        p[SPDRP_DRIVER] = Text(*driver);
        p[SPDRP_SERVICE] = Text(*driver);
    }
    if (auto phys = value("HID_PHYS")) p[SPDRP_LOCATION_INFORMATION] = Text(*phys);

    std::vector<std::string> hardwareIds;
    if (auto id = ParseHidId(value("HID_ID").value_or(""))) {
        const std::string vidPid = "HID\\VID_" + Hex4(id->Vendor) + "&PID_" + Hex4(id->Product);
        if (!Node.UsbDeviceDir.empty()) {
            hardwareIds.push_back(vidPid + "&REV_" + Hex4(ReadUsbVersion(Node)));
        }
        hardwareIds.push_back(vidPid);
    }
    if (auto alias = value("MODALIAS")) hardwareIds.push_back(*alias);
    if (!hardwareIds.empty()) p[SPDRP_HARDWAREID] = TextList(hardwareIds);

    std::vector<std::string> compatibleIds;
    if (auto bytes = ReadSysfsReportDescriptor(Node)) {
        const ReportDescriptorInfo info = ParseReportDescriptor(*bytes);
        if (info.CollectionCount > 0) {
            compatibleIds.push_back("HID_DEVICE_UP:" + Hex4(info.UsagePage) +
                                    "_U:" + Hex4(info.Usage));
        }
    }
    compatibleIds.push_back("HID_DEVICE");
    p[SPDRP_COMPATIBLEIDS] = TextList(compatibleIds);

    p[SPDRP_CLASS] = Text("HIDClass");
    p[SPDRP_CLASSGUID] = Text(kHidClassGuidText);
    p[SPDRP_ENUMERATOR_NAME] = Text("HID");
    p[SPDRP_PHYSICAL_DEVICE_OBJECT_NAME] = Text(Node.HidDir);
    if (auto bus = Decimal(usb("busnum"))) p[SPDRP_BUSNUMBER] = Number(*bus);
    if (auto address = Decimal(usb("devnum"))) p[SPDRP_ADDRESS] = Number(*address);
    return r;
}

HDEVINFO NewDeviceInfoSet(std::vector<InterfaceRecord> Records) {
    auto set = std::make_shared<DeviceSet>();
    set->Records = std::move(Records);
    return Sets().Add(std::move(set));
}

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, LPCSTR, HWND, DWORD Flags) {
    if (!ClassGuid || !(Flags & DIGCF_DEVICEINTERFACE)) {
        SetLastErrorCode(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<InterfaceRecord> records;
    if (SameGuid(*ClassGuid, kHidInterfaceGuid)) {
        const auto udev = SetupApiUdev();
        if (!udev) {
            SetLastErrorCode(ERROR_INVALID_HANDLE);
            return INVALID_HANDLE_VALUE;
        }
        const auto paths = EnumerateHidrawSyspaths(*udev);
        if (!paths) {
            SetLastErrorCode(ERROR_GEN_FAILURE);
            return INVALID_HANDLE_VALUE;
        }
        for (const std::string& path : *paths) {
            // A node that vanished between the scan and now is simply not in the set.
            if (auto node = ResolveHidrawSyspath(path)) records.push_back(DescribeInterface(*node));
        }
    }
    return NewDeviceInfoSet(std::move(records));
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO Set, SP_DEVINFO_DATA* DevInfo,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        SP_DEVICE_INTERFACE_DATA* InterfaceData) {
    const auto set = Sets().Find(Set);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    if (!InterfaceClassGuid) return Fail(ERROR_INVALID_PARAMETER);
    if (!ValidInterfaceData(InterfaceData)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (DevInfo && !ValidDevInfo(DevInfo)) return Fail(ERROR_INVALID_USER_BUFFER);
    if (!SameGuid(*InterfaceClassGuid, kHidInterfaceGuid)) return Fail(ERROR_NO_MORE_ITEMS);

    // With a device filter only that device's interface counts.
    DWORD seen = 0;
    for (size_t i = 0; i < set->Records.size(); ++i) {
        if (DevInfo && set->Records[i].DevInst != DevInfo->DevInst) continue;
        if (seen++ != MemberIndex) continue;
        InterfaceData->InterfaceClassGuid = kHidInterfaceGuid;
        InterfaceData->Flags = SPINT_ACTIVE;
        StoreToken(InterfaceData, i + 1);
        return TRUE;
    }
    return Fail(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO Set, SP_DEVICE_INTERFACE_DATA* InterfaceData,
                                             SP_DEVICE_INTERFACE_DETAIL_DATA_A* Detail,
                                             DWORD DetailSize, DWORD* RequiredSize,
                                             SP_DEVINFO_DATA* DevInfo) {
    const auto set = Sets().Find(Set);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    if (!ValidInterfaceData(InterfaceData)) return Fail(ERROR_INVALID_USER_BUFFER);
    const ULONG_PTR token = LoadToken(InterfaceData);
    if (token == 0 || token > set->Records.size()) return Fail(ERROR_INVALID_PARAMETER);
    const InterfaceRecord& record = set->Records[token - 1];

    constexpr DWORD header = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const DWORD needed = static_cast<DWORD>(header + record.DevicePath.size() + 1);
    if (RequiredSize) *RequiredSize = needed;
    if (!Detail)
        return Fail(DetailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
    if (DetailSize < header) return Fail(ERROR_INVALID_USER_BUFFER);
    if (Detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) &&
        Detail->cbSize != kWin64DetailHeaderSize) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (DetailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (DevInfo && !ValidDevInfo(DevInfo)) return Fail(ERROR_INVALID_USER_BUFFER);

    std::memcpy(Detail->DevicePath, record.DevicePath.c_str(), record.DevicePath.size() + 1);
    if (DevInfo) {
        DevInfo->ClassGuid = kHidClassGuid;
        DevInfo->DevInst = record.DevInst;
        StoreToken(DevInfo, token);
    }
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO Set, SP_DEVINFO_DATA* DevInfo,
                                              DWORD Property, DWORD* PropertyRegDataType,
                                              BYTE* PropertyBuffer, DWORD PropertyBufferSize,
                                              DWORD* RequiredSize) {
    const auto set = Sets().Find(Set);
    if (!set) return Fail(ERROR_INVALID_HANDLE);
    if (!ValidDevInfo(DevInfo)) return Fail(ERROR_INVALID_USER_BUFFER);
    const InterfaceRecord* record = FindByInstance(*set, DevInfo->DevInst);
    if (!record) return Fail(ERROR_NO_SUCH_DEVINST);
    const auto it = record->Properties.find(Property);
    if (it == record->Properties.end()) return Fail(ERROR_INVALID_DATA);

    const RegistryValue& v = it->second;
    const auto size = static_cast<DWORD>(v.Bytes.size());
    if (PropertyRegDataType) *PropertyRegDataType = v.Type;
    if (RequiredSize) *RequiredSize = size;
    if (!PropertyBuffer) {
        return Fail(PropertyBufferSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
    }
    if (PropertyBufferSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(PropertyBuffer, v.Bytes.data(), size);
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO Set) {
    if (!Sets().Remove(Set)) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

} // namespace hidlinux
