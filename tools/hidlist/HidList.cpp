#include "tools/hidlist/HidList.h"

#include "hid/Hid.h"
#include "hid/JvHidControllerClass.h"
#include "hid/SetupApi.h"
#include "hid/SetupWalk.h"
#include "instrument/Protocol.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <memory>
#include <ostream>

namespace {

// What the controller's own walk found out about one device object.
struct ListedDevice {
    std::string Path;
    DWORD Instance = 0;
    HIDD_ATTRIBUTES Attributes{};
    std::u16string Manufacturer;
    std::u16string Product;
    HidAccess Access = HidAccess::None;
    bool Used = false;
};

// One entry of the device-setup walk: every interface present, openable or not.
struct SetupEntry {
    bool DetailRead = false;
    std::string Path;
    DWORD Instance = 0;
    std::shared_ptr<TJvHidPnPInfo> Info;
};

// Enumeration callback: runs while the device may be opened.
bool CollectListed(void* Context, TJvHidDevice* Dev, int) {
    auto& listed = *static_cast<std::vector<ListedDevice>*>(Context);
    ListedDevice d;
    d.Path = Dev->PnPInfo().DevicePath;
    d.Instance = Dev->PnPInfo().DeviceInstance;
    d.Attributes = Dev->Attributes();
    if (Dev->OpenHandle())
        d.Access = Dev->HasReadWriteAccess() ? HidAccess::ReadWrite : HidAccess::QueryOnly;
    d.Manufacturer = Dev->VendorName();
    d.Product = Dev->ProductName();
    listed.push_back(std::move(d));
    return true;
}

std::vector<SetupEntry> ListSetupEntries(const GUID& HidGuid, std::string& Error) {
    std::vector<SetupEntry> entries;
    const bool walked = WalkSetupEntries(HidGuid, [&](HDEVINFO Set, const SetupWalkEntry& Walked) {
        SetupEntry entry;
        if (Walked.DetailRead) {
            entry.DetailRead = true;
            entry.Path = Walked.Path;
            entry.Instance = Walked.DevInfo.DevInst;
            entry.Info = std::make_shared<TJvHidPnPInfo>(Set, Walked.DevInfo, entry.Path);
        }
        entries.push_back(std::move(entry));
    });
    if (!walked)
        Error = "the present HID interfaces could not be listed (error " +
                std::to_string(CurrentHidPlatform().GetLastError()) + ")";
    return entries;
}

// 0 when the interface opens read-write, else the platform's error.
DWORD ReadWriteOpenError(const std::string& Path) {
    const HidPlatform& platform = CurrentHidPlatform();
    HANDLE h = platform.CreateFileA(Path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
    if (h != INVALID_HANDLE_VALUE && h != nullptr) {
        platform.CloseHandle(h);
        return ERROR_SUCCESS;
    }
    const DWORD error = platform.GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
}

bool OpensForQueries(const std::string& Path) {
    const HidPlatform& platform = CurrentHidPlatform();
    HANDLE h = platform.CreateFileA(Path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return false;
    platform.CloseHandle(h);
    return true;
}

std::string ErrorText(DWORD Error) {
    switch (Error) {
    case ERROR_ACCESS_DENIED:
        return "permission denied";
    case ERROR_FILE_NOT_FOUND:
        return "no such device";
    case ERROR_DEVICE_NOT_CONNECTED:
        return "device not connected";
    case ERROR_SHARING_VIOLATION:
        return "in use by another program";
    default:
        return "error " + std::to_string(Error);
    }
}

// "VID_16C0" and "PID_05DF" out of hardware ids such as "HID\VID_16C0&PID_05DF&REV_0100".
std::optional<uint16_t> IdFromHardwareIds(const std::vector<std::string>& Ids, const char* Key) {
    for (const std::string& id : Ids) {
        const size_t at = id.find(Key);
        if (at == std::string::npos) continue;
        const std::string digits = id.substr(at + std::strlen(Key), 4);
        if (digits.size() != 4 || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) {
                return std::isxdigit(c) != 0;
            }))
            continue;
        return static_cast<uint16_t>(std::stoul(digits, nullptr, 16));
    }
    return std::nullopt;
}

// The row of an interface the controller could not make a device object of.
HidInterfaceRow UnlistedRow(const SetupEntry& Entry) {
    HidInterfaceRow row;
    row.Path = Entry.Path;
    row.VendorID = IdFromHardwareIds(Entry.Info->HardwareIds, "VID_");
    row.ProductID = IdFromHardwareIds(Entry.Info->HardwareIds, "PID_");
    // The device-setup record may still know the strings (on Linux: the USB device's).
    if (!Entry.Info->Manufacturer.empty()) row.Manufacturer = Entry.Info->Manufacturer;
    if (!Entry.Info->DeviceDescription.empty()) row.Product = Entry.Info->DeviceDescription;
    const DWORD error = ReadWriteOpenError(Entry.Path);
    row.OpenError = error;
    if (error == ERROR_SUCCESS) {
        row.Access = HidAccess::ReadWrite;
    } else if (OpensForQueries(Entry.Path)) {
        row.Access = HidAccess::QueryOnly;
    }
    row.Note = row.Access == HidAccess::None ? "cannot be opened: " + ErrorText(error)
                                             : "opens but cannot be identified";
    return row;
}

HidInterfaceRow ListedRow(const ListedDevice& Device) {
    HidInterfaceRow row;
    row.Listed = true;
    row.Path = Device.Path;
    row.VendorID = Device.Attributes.VendorID;
    row.ProductID = Device.Attributes.ProductID;
    row.Manufacturer = Utf8FromUtf16(Device.Manufacturer);
    row.Product = Utf8FromUtf16(Device.Product);
    row.Access = Device.Access;
    if (Device.Access == HidAccess::QueryOnly) {
        row.OpenError = ReadWriteOpenError(Device.Path);
        row.Note = "read-write open refused: " + ErrorText(row.OpenError);
    } else if (Device.Access == HidAccess::None)
        row.Note = "gone while listed";
    return row;
}

std::string Quoted(const std::optional<std::string>& Text) {
    if (!Text) return "-";
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : *Text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Hex4(const std::optional<uint16_t>& Value) {
    if (!Value) return "-";
    static const char hex[] = "0123456789abcdef";
    std::string out(4, '0');
    for (int i = 0; i < 4; ++i) out[3 - i] = hex[(*Value >> (4 * i)) & 0xF];
    return out;
}

const char* AccessText(HidAccess Access) {
    switch (Access) {
    case HidAccess::ReadWrite:
        return "read-write";
    case HidAccess::QueryOnly:
        return "query-only";
    case HidAccess::None:
        break;
    }
    return "none";
}

// Columns are padded by characters, not bytes, so UTF-8 strings line up.
size_t Width(const std::string& Text) {
    return static_cast<size_t>(
        std::count_if(Text.begin(), Text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

void Pad(std::string& Line, const std::string& Cell, size_t ColumnWidth) {
    Line += Cell;
    Line.append(ColumnWidth - Width(Cell) + 2, ' ');
}

} // namespace

std::string Utf8FromUtf16(const std::u16string& Text) {
    std::string out;
    for (size_t i = 0; i < Text.size(); ++i) {
        uint32_t c = Text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < Text.size() && Text[i + 1] >= 0xDC00 &&
            Text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (Text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool IsInstrument(const HidInterfaceRow& Row) {
    return Row.Product && *Row.Product == instrument::Product && Row.Manufacturer &&
           *Row.Manufacturer == instrument::Manufacturer;
}

InstrumentStatus CheckInstrument(std::string_view DemoAdvice) {
    const HidListing listing = CollectHidInterfaces();
    if (!listing.Error.empty())
        return {InstrumentProblem::CannotList, "cannot list HID devices: " + listing.Error};
    for (const HidInterfaceRow& r : listing.Rows) {
        if (!IsInstrument(r)) continue;
        if (r.Access != HidAccess::ReadWrite)
            return {InstrumentProblem::NoReadWrite,
                    r.Path + " is the instrument but does not open read-write: install the udev "
                             "rule 70-ormelix.rules and plug it in again (see README)"};
        if (!r.Listed)
            return {InstrumentProblem::Unidentified,
                    r.Path + " is the instrument but cannot be identified: plug it in again"};
        return {};
    }
    return {InstrumentProblem::Absent,
            std::string("no HID interface with product \"") + instrument::Product +
                "\" and manufacturer \"" + instrument::Manufacturer +
                "\": plug the instrument in (ormelix-hidlist lists what this machine shows), or " +
                std::string(DemoAdvice)};
}

HidListing CollectHidInterfaces() {
    HidListing listing;
    // Without an event loop the controller binds the libraries and waits to be asked.
    TJvHidDeviceController controller(nullptr);
    if (!SetupApiBound()) {
        listing.Error = "the device-setup library could not be loaded (on Linux: libudev.so.1)";
        return listing;
    }
    if (!HidBound()) {
        listing.Error = "the HID library could not be loaded";
        return listing;
    }

    // Every interface present, also those the controller leaves out.
    std::vector<SetupEntry> entries = ListSetupEntries(controller.HidGuid(), listing.Error);
    if (!listing.Error.empty()) return listing;

    controller.DeviceChange();
    std::vector<ListedDevice> listed;
    controller.SetOnEnumerate(TJvHidEnumerateEvent(&CollectListed, &listed));
    controller.Enumerate();

    for (const SetupEntry& entry : entries) {
        if (!entry.DetailRead) {
            HidInterfaceRow row;
            row.Note = "interface detail cannot be read";
            listing.Rows.push_back(std::move(row));
            continue;
        }
        auto it = std::find_if(listed.begin(), listed.end(), [&](const ListedDevice& d) {
            return !d.Used && d.Instance == entry.Instance && d.Path == entry.Path;
        });
        if (it != listed.end()) {
            it->Used = true;
            listing.Rows.push_back(ListedRow(*it));
        } else {
            listing.Rows.push_back(UnlistedRow(entry));
        }
    }
    // Interfaces that came between the two walks.
    for (const ListedDevice& d : listed)
        if (!d.Used) listing.Rows.push_back(ListedRow(d));
    return listing;
}

void PrintHidListing(const HidListing& Listing, std::ostream& Out) {
    struct Cells {
        std::string Path, Vid, Pid, Access, Match, Manufacturer, Product, Note;
    };
    std::vector<Cells> lines;
    lines.push_back(
        {"PATH", "VID", "PID", "ACCESS", "INSTRUMENT", "MANUFACTURER", "PRODUCT", "NOTE"});
    for (const HidInterfaceRow& r : Listing.Rows) {
        const bool known = r.Manufacturer && r.Product;
        lines.push_back({r.Path.empty() ? "-" : r.Path, Hex4(r.VendorID), Hex4(r.ProductID),
                         AccessText(r.Access), known ? (IsInstrument(r) ? "yes" : "no") : "?",
                         Quoted(r.Manufacturer), Quoted(r.Product), r.Note});
    }
    size_t w[7] = {};
    for (const Cells& c : lines) {
        const std::string* cells[] = {&c.Path,  &c.Vid,          &c.Pid,    &c.Access,
                                      &c.Match, &c.Manufacturer, &c.Product};
        for (size_t i = 0; i < 7; ++i) w[i] = std::max(w[i], Width(*cells[i]));
    }
    for (const Cells& c : lines) {
        std::string line;
        Pad(line, c.Path, w[0]);
        Pad(line, c.Vid, w[1]);
        Pad(line, c.Pid, w[2]);
        Pad(line, c.Access, w[3]);
        Pad(line, c.Match, w[4]);
        Pad(line, c.Manufacturer, w[5]);
        Pad(line, c.Product, w[6]);
        line += c.Note;
        line.erase(line.find_last_not_of(' ') + 1);
        Out << line << '\n';
    }
}

namespace {

// What the user can do about a refused read-write open of the instrument.
std::string ReadWriteHint(uint32_t Error) {
    if (Error == ERROR_SHARING_VIOLATION)
        return "another program holds it open; close that program (a second console, the maker's "
               "tool) and try again";
#ifdef _WIN32
    // Windows needs no driver and lets every user open a HID device that is not a keyboard or
    // mouse: a refusal is the device's state, not a permission.
    return ErrorText(Error) + "; unplug it and plug it in again (it needs no driver on Windows)";
#else
    return "install the udev rule 70-ormelix.rules and plug it in again (see README)";
#endif
}

} // namespace

int ListHidInterfaces(std::ostream& Out, std::ostream& Err) {
    const HidListing listing = CollectHidInterfaces();
    if (!listing.Error.empty()) {
        Err << "ormelix-hidlist: cannot list HID devices: " << listing.Error << '\n';
        return 1;
    }
    PrintHidListing(listing, Out);
    bool found = false;
    for (const HidInterfaceRow& r : listing.Rows) {
        if (!IsInstrument(r)) continue;
        found = true;
        if (r.Access != HidAccess::ReadWrite)
            Err << "ormelix-hidlist: " << r.Path
                << " is the instrument but does not open read-write: " << ReadWriteHint(r.OpenError)
                << '\n';
        else if (!r.Listed)
            Err << "ormelix-hidlist: " << r.Path
                << " is the instrument but cannot be identified: plug it in again\n";
    }
    if (!found)
        Err << "ormelix-hidlist: no HID interface with product \"" << instrument::Product
            << "\" and manufacturer \"" << instrument::Manufacturer << "\"\n";
    Out.flush();
    return 0;
}
