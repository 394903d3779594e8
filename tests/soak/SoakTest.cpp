// Soak: the console polling for a long time on records it cannot predict while the instrument
// is pulled and plugged in again and again, with a snapshot series running. No crash, no leak
// (the sanitizers watch), no growth of memory or platform handles, polling again after every
// re-plug once CheckBox1 is ticked again, and every picture a whole JPEG.
//   ORMELIX_SOAK_TICKS (default 100000) and ORMELIX_SOAK_CYCLES (default 500) scale it.
#include "hid/sim/SimInstrument.h"
#include "tests/app/ConsoleFixture.h"
#include "tests/soak/SoakSupport.h"

#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's own count; GCC ships no header for it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

long EnvOr(const char* Name, long Default) {
    const char* v = std::getenv(Name);
    return v && *v ? std::atol(v) : Default;
}

size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// The virtual instrument whose records are replaced by random bytes, except for a cursor that
// sweeps as the instrument's does, so that the series takes one picture per sweep.
struct RandomRecords {
    std::shared_ptr<VirtualInstrument> instrument = std::make_shared<VirtualInstrument>();
    std::mt19937 random{20261207};
    int fetches = 0;

    hidsim::SimDeviceSpec Desc() {
        hidsim::SimDeviceSpec desc = VirtualInstrumentDevice(instrument, "/dev/hidraw0");
        desc.GetFeature = [this](uint8_t* Report, uint32_t Length) {
            const VirtualInstrument::Record real = instrument->Fetch();
            for (uint32_t i = 1; i < Length; ++i) Report[i] = static_cast<uint8_t>(random());
            if (Length > CursorPos + 1) Report[CursorPos + 1] = real[CursorPos];
            ++fetches;
            return true;
        };
        return desc;
    }
};

class SoakTest : public ConsoleTest {};

TEST_F(SoakTest, LongPollingWithReplugsAndASnapshotSeries) {
    const long ticks = EnvOr("ORMELIX_SOAK_TICKS", 100000);
    const long cycles = EnvOr("ORMELIX_SOAK_CYCLES", 500);
    ASSERT_GT(cycles, 0);
    const long ticksPerCycle = std::max(1L, ticks / cycles);

    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    RandomRecords records;
    ASSERT_NE(sim.Plug(records.Desc()), 0u);
    Start();
    form->show(); // so that the repaints run too
    form->ProgramFolder = [&] { return tmp.path(); };
    // A new second at every reading, so that no picture replaces another.
    QDateTime clock(QDate(2026, 12, 7), QTime(0, 0, 0));
    form->Now = [&] { return clock = clock.addSecs(1); };
    Connect();
    ASSERT_NE(InstrumentDevice, nullptr);
    Tick();
    form->CheckBox2->setChecked(true);

    long ticked = 0;
    size_t heapAtTenth = 0;
    int maxHandles = 0;
    for (long cycle = 0; cycle < cycles; ++cycle) {
        for (long i = 0; i < ticksPerCycle; ++i, ++ticked) {
            Tick();
            if ((i & 15) == 0) Events(); // repaints, as the event loop would
            ASSERT_TRUE(form->Timer->isActive()) << "tick " << ticked;
        }
        // Pull the instrument while polling: the next tick lets it go and goes idle.
        ASSERT_TRUE(sim.Unplug("/dev/hidraw0"));
        Events();
        Tick();
        ASSERT_FALSE(form->CheckBox1->isChecked()) << "cycle " << cycle;
        ASSERT_FALSE(form->Timer->isActive());
        ASSERT_EQ(form->windowTitle(), QString::fromUtf8(NotFoundCaption));

        // Plug it in again: nothing polls until the box is ticked again, then polling resumes.
        ASSERT_NE(sim.Plug(records.Desc()), 0u);
        Events();
        ASSERT_FALSE(form->Timer->isActive());
        const int before = records.fetches;
        Connect();
        ASSERT_TRUE(form->Timer->isActive()) << "cycle " << cycle;
        ASSERT_NE(InstrumentDevice, nullptr);
        ASSERT_TRUE(InstrumentDevice->IsPluggedIn());
        Tick();
        ASSERT_GT(records.fetches, before) << "no fetch after the re-plug of cycle " << cycle;
        ASSERT_EQ(form->windowTitle(), QString::fromUtf8(FoundCaption));
        // The series goes on under a folder named by a new click.
        form->CheckBox2->setChecked(false);
        form->CheckBox2->setChecked(true);

        maxHandles = std::max(maxHandles, sim.OpenHandleCount());
        // The simulator keeps a log of every transfer for tests to read; it is not the
        // console's memory.
        sim.ClearLogs();
        if (cycle == cycles / 10) heapAtTenth = HeapInUse();
    }
    const size_t heapAtEnd = HeapInUse();
    std::printf(
        "soak: %ld ticks, %ld re-plugs, heap in use %zu -> %zu bytes, most open handles %d\n",
        ticked, cycles, heapAtTenth, heapAtEnd, maxHandles);
    // The held instrument's handle and nothing that piles up.
    EXPECT_LE(maxHandles, 2);
    if (heapAtTenth > 0) {
        EXPECT_LT(heapAtEnd, heapAtTenth + 2 * 1024 * 1024);
    }

    const QStringList pictures = FilesUnder(tmp.path(), {"*"});
    std::printf("soak: %lld pictures\n", static_cast<long long>(pictures.size()));
    // The cursor sweeps once in about 40 fetches; most sweeps end in a picture.
    EXPECT_GE(pictures.size(), ticked / 40 / 2);
    int bad = 0;
    for (const QString& p : pictures) {
        if (!p.endsWith(".jpg") ||
            !IsWholeJpeg(FileBytes(p), QSize(SnapshotWidth, SnapshotHeight))) {
            if (++bad <= 5) ADD_FAILURE() << "not a whole picture: " << p.toStdString();
        }
    }
    EXPECT_EQ(bad, 0);
}

} // namespace
