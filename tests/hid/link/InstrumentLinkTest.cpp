// The link's string rule, on the UTF-16 strings as the device gives them: only the instrument's
// two strings, code unit for code unit, name it.
#include "hid/link/InstrumentLink.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
    std::u16string Product;
    std::u16string Manufacturer;
    bool Instrument;
};

TEST(InstrumentLinkTest, OnlyTheExactStringsNameTheInstrument) {
    const NameCase cases[] = {
        {u"Ormelix", u"Bramlo-kt", true},
        {u"ormelix", u"Bramlo-kt", false},                      // case
        {u"Ormelix", u"Bramlo-KT", false},                      // case
        {u"Ormelix ", u"Bramlo-kt", false},                     // trailing space
        {u"Ormelix", u"Bramlo-kt ", false},                     // trailing space
        {u"Bramlo-kt", u"Ormelix", false},                      // swapped
        {std::u16string(u"Ormelix\0", 8), u"Bramlo-kt", false}, // a zero code unit kept
        {u"\uFF2Frmelix", u"Bramlo-kt", false}, // full-width O, which an ANSI page may fold
        {u"Orm\u0435lix", u"Bramlo-kt", false}, // Cyrillic e
        {u"Ormelix", u"Bramlo\u2011kt", false}, // non-breaking hyphen
        {u"", u"", false},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::u16string_view(c.Product)) + " / " +
                     testing::PrintToString(std::u16string_view(c.Manufacturer)));
        EXPECT_EQ(hidlink::IsInstrument(c.Product, c.Manufacturer), c.Instrument);
    }
}

} // namespace
