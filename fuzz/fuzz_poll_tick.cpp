// libFuzzer entry: poll ticks of the console fed arbitrary 254-byte records, with arbitrary
// marker levels, failing fetches and the snapshot series on or off. No crash, no access outside
// the exchange and report buffers (AddressSanitizer watches the globals), no hang, and the
// timer left running exactly while the connection box is ticked.
// Input: a settings byte, two marker levels (a byte each, in hundredths of a volt), then
// records of 254 bytes (a short last one is zero-padded), at most eight ticks.
#include "fuzz/FuzzConsole.h"
#include "fuzz/FuzzSupport.h"
#include "widgets/RXSpin.h"

#include <QCheckBox>
#include <QTimer>

using fuzz::Console;
using fuzz::TheConsole;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::App();
    TheConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    Console& c = TheConsole();
    TOrmelix_Control_Form& f = *c.form;
    fuzz::Bytes in(Data, Size);
    const uint8_t settings = in.Byte();

    // A fresh connection for every input.
    SnapshotArmed = false;
    SnapshotTriggerPos = 0;
    c.fetchFails = false;
    c.record.fill(0);
    c.record[ScaleByte] = 64;
    f.CheckBox2->setChecked(false);
    f.CheckBox1->setChecked(false);
    f.CheckBox1->setChecked(true);
    if (InstrumentDevice == nullptr) fuzz::Fail("the console did not connect");
    f.Timer->stop();
    f.RxSpinEdit_mark1->SetValue(in.Byte() / 100.0L);
    f.RxSpinEdit_mark2->SetValue(in.Byte() / 100.0L);
    if (settings & 1) f.CheckBox2->setChecked(true);                          // a series, named now
    if (settings & 2) f.RxSpinEdit_mark1->setText(QString::number(settings)); // any text

    for (int tick = 0; tick < 8 && !in.Empty(); ++tick) {
        const std::string bytes = in.Chunk(ExchangeSize);
        c.record.fill(0);
        std::copy(bytes.begin(), bytes.end(), c.record.begin());
        c.fetchFails = ((settings >> 2) & 3) == 3 && (tick & 1);
        f.TimerTimer(f.Timer);
        if (f.Timer->isActive() != f.CheckBox1->isChecked())
            fuzz::Fail("the timer runs while the console is not connected, or the reverse");
        f.Timer->stop();
    }
    return 0;
}
