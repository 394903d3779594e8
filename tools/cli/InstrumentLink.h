// ormelix-cli reaches the instrument through the HID layer's link (hid/link/), under the names
// the recorder and its tests use.
#pragma once

#include "hid/link/InstrumentLink.h"

namespace cli {

using hidlink::InstrumentEntry;
using hidlink::InstrumentLink;
using hidlink::NativeSerialNumber;
using hidlink::Record;
inline auto& SerialNumberOf = hidlink::SerialNumberOf;

} // namespace cli
