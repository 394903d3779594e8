"""The Python module on the demo instrument, held against ormelix-cli on the same demo."""

import csv
import decimal
import math
import os
import subprocess
import threading
import time

import numpy as np
import pytest

import ormelix

RECORD_SIZE = 254
COMMAND_BYTE = 253
POLL_PERIOD_BYTE = 240
SCALE_BYTE = 245
OUTPUTS_BYTE = 242  # the virtual instrument's OS1 and OS2


def cli_recording(tmp_path, count, raw):
    """Rows of ormelix-cli record --demo: a fresh virtual instrument, as each test's own demo."""
    cli = os.environ.get("ORMELIX_CLI")
    if not cli or not os.path.exists(cli):
        pytest.fail("ORMELIX_CLI must name the built ormelix-cli")
    out = tmp_path / ("raw.csv" if raw else "volts.csv")
    args = [cli, "record", "--demo", "--count", str(count), "--period", "10", "-o", str(out)]
    subprocess.run(args + (["--raw"] if raw else []), check=True, capture_output=True)
    with open(out, newline="") as f:
        return out, list(csv.reader(f))


def reference_volts(byte, scale):
    """The console's rule, written again in numpy's extended precision."""
    if scale == 0:
        return float("nan")
    return float((np.longdouble(byte) * np.longdouble("1.1")) / np.longdouble(scale))


@pytest.mark.parametrize("raw", [True, False], ids=["raw", "volts"])
def test_records_and_read_csv_agree_with_the_cli(tmp_path, raw):
    count = 6
    path, rows = cli_recording(tmp_path, count, raw)
    header, rows = rows[0], rows[1:]
    with ormelix.Instrument(demo=True) as scope:
        records = list(scope.record(count=count, period=0.01))
    assert len(records) == len(rows) == count
    recording = ormelix.read_csv(str(path))
    assert len(recording) == count and recording.raw == raw
    levels = ["min_s1", "max_s1", "min_s2", "max_s2"]
    for i, (record, row) in enumerate(zip(records, rows)):
        fields = dict(zip(header, row))
        assert int(fields["scale"]) == record.scale == recording.scale[i]
        assert int(fields["cursor"]) == record.cursor == recording.cursor[i]
        assert int(fields["record"]) == recording.record[i] == i + 1
        if raw:
            assert [int(fields[n]) for n in levels] == [getattr(record, n) for n in levels]
            assert [int(fields[f"s1_{p}"]) for p in range(121)] == record.s1.tolist()
            assert [int(fields[f"s2_{p}"]) for p in range(121)] == record.s2.tolist()
            assert np.array_equal(recording.s1[i], record.s1)
            assert np.array_equal(recording.s2[i], record.s2)
            assert recording.s1.dtype == np.uint8
        else:
            # To the digits the CLI prints: its text is the value rounded to 6 decimals. (The CLI
            # rounds the extended-precision value, the module gives it as a double: at a near-tie
            # such as 3.1109375 the double prints one digit lower with "%.6f".)
            volts = [getattr(record, n + "_volts") for n in levels]
            volts += list(record.s1_volts) + list(record.s2_volts)
            texts = [fields[n] for n in levels]
            texts += [fields[f"s{s}_{p}"] for s in (1, 2) for p in range(121)]
            half = decimal.Decimal("0.0000005")
            off = [(v, t) for v, t in zip(volts, texts)
                   if abs(decimal.Decimal(v) - decimal.Decimal(t)) > half + decimal.Decimal(math.ulp(v))]
            assert off == []
            np.testing.assert_allclose(recording.s1[i], record.s1_volts, atol=5.0001e-7, rtol=0)
            np.testing.assert_allclose(recording.max_s2[i], record.max_s2_volts, atol=5.0001e-7, rtol=0)
    # The CLI's times are its rows' local times with their offsets; read back in UTC.
    seconds = recording.time.astype("datetime64[s]").astype(np.int64)
    assert np.all(np.abs(seconds - time.time()) < 600)


@pytest.mark.parametrize("scale", [0, 1, 3, 7, 64, 255])
def test_volts_follow_the_console_rule(scale):
    raw = bytearray(range(RECORD_SIZE))
    raw[SCALE_BYTE] = scale
    record = ormelix.Record(bytes(raw))
    expected = np.array([reference_volts(b, scale) for b in raw[0:242:2]])
    assert record.s1.tolist() == list(raw[0:242:2])
    np.testing.assert_array_equal(record.s1_volts, expected)  # NaN equals NaN here
    np.testing.assert_array_equal(record.s2_volts, [reference_volts(b, scale) for b in raw[1:242:2]])
    assert np.isnan(record.min_s1_volts) if scale == 0 else record.min_s1_volts == reference_volts(raw[246], scale)


def expected_sends(command, period, fetched):
    """The console's button: the fetched record back with the code (and period); read-stored
    first sends that, fetches the stored variables, and sends them back as they came."""
    codes = {"normal": 0, "read-stored": 1, "save-period": 2, "reset": 32,
             "os1=0": 48, "os1=1": 49, "os2=0": 64, "os2=1": 65}
    code = codes[command] if isinstance(command, str) and command in codes else int(command)
    sends = []
    for n, record in enumerate(fetched):
        sent = bytearray(record)
        if n == 1:  # the stored variables
            sends.append(bytes(sent))
            continue
        if code == 2:
            sent[POLL_PERIOD_BYTE] = period
        sent[COMMAND_BYTE] = code
        sends.append(bytes(sent))
    return sends


@pytest.mark.parametrize("command,period", [
    ("normal", None), ("read-stored", None), ("save-period", 20), ("reset", None),
    ("os1=1", None), ("os2=1", None), (65, None), ("48", None), (2, 99),
])
def test_send_makes_the_consoles_reports(command, period):
    bench = ormelix._DemoBench()
    with ormelix.Instrument(demo=True) as scope:
        bench.clear_transfers()
        sent = scope.send(command, period)
        transfers = bench.transfers()
        after = scope.fetch()
    assert all(ok for _, _, ok in transfers)
    gets = [report[1:] for kind, report, _ in transfers if kind == "get"]
    sets = [report[1:] for kind, report, _ in transfers if kind == "set"]
    assert [kind for kind, _, _ in transfers] == (["get", "set", "get", "set"] if command == "read-stored" else ["get", "set"])
    assert sets == expected_sends(command, period, gets)
    assert sent.raw == sets[-1]
    if command in ("os2=1", 65):
        assert after.raw[OUTPUTS_BYTE] & 2
    if command in ("save-period", 2):
        assert after.poll_period == period


@pytest.mark.parametrize("command,period,message", [
    ("bogus", None, "unknown command bogus"),
    (3, None, "unknown command 3"),
    (-1, None, "unknown command -1"),
    ("save-period", None, "save-period needs the poll period to store, 1 to 255"),
    ("save-period", 0, "save-period needs the poll period to store, 1 to 255"),
    ("save-period", 256, "save-period needs the poll period to store, 1 to 255"),
    ("os2=1", 5, "os2=1 takes no value"),
])
def test_bad_commands_send_nothing(command, period, message):
    bench = ormelix._DemoBench()
    with ormelix.Instrument(demo=True) as scope:
        bench.clear_transfers()
        with pytest.raises(ValueError, match=message):
            scope.send(command, period)
    assert bench.transfers() == []


def test_record_goes_on_across_unplug_and_replug():
    bench = ormelix._DemoBench()
    got = []
    with ormelix.Instrument(demo=True) as scope:
        stream = scope.record(count=6, duration=5, period=0.02)
        for record in stream:
            got.append(record)
            if len(got) == 2:
                bench.unplug()
                with pytest.raises(ormelix.NotFound):
                    scope.fetch()
                threading.Timer(0.3, bench.replug).start()
        gap = got[2].timestamp - got[1].timestamp
    assert len(got) == 6 and stream.gaps == 1
    assert gap >= 0.25
    # The same instrument plugged in again: its cursor sweeps on where it stopped.
    cursors = [r.cursor for r in got]
    assert all(b != a for a, b in zip(cursors, cursors[1:]))


def absent(bench):
    bench.unplug()


def query_only(bench):
    bench.unplug()
    bench.replug(query_only=True)


@pytest.mark.parametrize("setup,open_args,error,message", [
    (None, {"device": "ORX-9999"}, ormelix.NotFound, "no instrument with the path or USB serial number ORX-9999"),
    (None, {"device": "/dev/hidraw-sim1"}, ormelix.NotFound, "no instrument with the path"),
    (absent, {}, ormelix.NotFound, 'no HID interface with product "Ormelix"'),
    (query_only, {}, ormelix.AccessDenied, "udev rule 70-ormelix.rules"),
])
def test_a_missing_instrument_raises_the_clis_message(setup, open_args, error, message):
    bench = ormelix._DemoBench()
    if setup:
        setup(bench)
    with pytest.raises(error, match=message):
        ormelix.Instrument(demo=True, **open_args).fetch()


def test_record_waits_for_the_first_record_at_most_wait():
    bench = ormelix._DemoBench()
    with ormelix.Instrument(demo=True) as scope:
        bench.unplug()
        start = time.monotonic()
        with pytest.raises(ormelix.NotFound, match="no record within the wait"):
            next(iter(scope.record(period=0.05, wait=0.3)))
        assert 0.3 <= time.monotonic() - start < 2


def test_a_demo_run_keeps_no_log_of_its_transfers():
    # Only an open bench reads the log; a long demo recording must not grow it.
    with ormelix.Instrument(demo=True) as scope:
        list(scope.record(count=20, period=0.01))
        scope.send("os1=1")
        scope.fetch()
        bench = ormelix._DemoBench()
        assert bench.transfers() == []
        scope.fetch()
        assert [kind for kind, _, _ in bench.transfers()] == ["get"]


def test_misuse():
    scope = ormelix.Instrument(demo=True)
    listed = ormelix.instruments(demo=True)
    assert [(i.path, i.serial, i.default) for i in listed] == [("/dev/hidraw-sim0", "ORX-0001", True)]
    with pytest.raises(ormelix.Error, match="demo instrument is open"):
        ormelix.Instrument()
    scope.close()
    for call in (scope.fetch, lambda: scope.send("normal"), lambda: scope.record(count=1)):
        with pytest.raises(ValueError, match="closed"):
            call()
    with ormelix.Instrument(demo=True) as scope:
        for kwargs in ({"count": 0}, {"duration": -1}, {"period": 0}, {"wait": -1}):
            with pytest.raises(ValueError):
                scope.record(**kwargs)


def test_the_gil_is_free_while_records_are_waited_for():
    with ormelix.Instrument(demo=True) as scope:
        worker = threading.Thread(target=lambda: list(scope.record(count=3, period=0.2)))
        spins = 0
        worker.start()
        while worker.is_alive():
            spins += 1
        worker.join()
    # With the GIL held through the waits this thread would hardly have run.
    assert spins > 100000


HEADER = ",".join(["time", "record", "scale", "cursor", "min_s1", "max_s1", "min_s2", "max_s2"]
                  + [f"s{s}_{p}" for s in (1, 2) for p in range(121)])
TIME = "2026-12-09T06:01:02.345+01:00"


def volts_row(counter, scale="64", value="1.100000"):
    return ",".join([TIME, str(counter), scale, "7"] + [value] * 246)


@pytest.mark.parametrize("text,rows,check", ids=["lf-torn", "scale-0", "empty"], argvalues=[
    # LF line ends, and a last row cut off without its line end
    (HEADER + "\n" + volts_row(1) + "\n" + volts_row(2)[:100], 1,
     lambda r: r.s1[0, 0] == 1.1 and str(r.time[0]) == "2026-12-09T05:01:02.345"),
    # scale 0: empty volt fields read as NaN
    (HEADER + "\r\n" + volts_row(1) + "\r\n" + volts_row(2, "0", "") + "\r\n", 2,
     lambda r: np.isnan(r.s2[1]).all() and not np.isnan(r.s2[0]).any()),
    (HEADER + "\r\n", 0, lambda r: r.s1.shape == (0, 121)),
])
def test_read_csv_forms(tmp_path, text, rows, check):
    path = tmp_path / "r.csv"
    path.write_bytes(text.encode())
    recording = ormelix.read_csv(str(path))
    assert len(recording) == rows and len(recording.s1) == rows
    assert check(recording)


@pytest.mark.parametrize("text,message", ids=["header", "fields", "time", "volts", "scale"], argvalues=[
    ("time,record\r\n", "not an ormelix-cli recording"),
    (HEADER + "\r\n" + volts_row(1)[:-9] + "\r\n", "line 2: 249 fields"),
    (HEADER + "\r\n" + volts_row(1) + "\r\n" + volts_row(2).replace(TIME, "yesterday") + "\r\n", "line 3: the time"),
    (HEADER + "\r\n" + volts_row(1, value="1.1x") + "\r\n", "line 2: field 5 is not volts"),
    (HEADER + "\r\n" + volts_row(1, scale="256") + "\r\n", "line 2: a bad scale"),
])
def test_read_csv_refuses_what_is_not_a_recording(tmp_path, text, message):
    path = tmp_path / "bad.csv"
    path.write_bytes(text.encode())
    with pytest.raises(ValueError, match=message):
        ormelix.read_csv(str(path))


def test_read_csv_of_a_missing_file():
    with pytest.raises(FileNotFoundError):
        ormelix.read_csv("/nonexistent/recording.csv")


def test_read_csv_to_pandas_has_the_csvs_columns(tmp_path):
    pandas = pytest.importorskip("pandas")
    path = tmp_path / "r.csv"
    path.write_bytes((HEADER + "\r\n" + volts_row(1) + "\r\n" + volts_row(2, "0", "") + "\r\n").encode())
    frame = ormelix.read_csv(str(path)).to_pandas()
    assert list(frame.columns) == HEADER.split(",")
    assert frame["record"].tolist() == [1, 2]
    assert frame["s2_120"].iloc[0] == 1.1 and pandas.isna(frame["s2_120"].iloc[1])
    assert frame["time"].iloc[0] == pandas.Timestamp("2026-12-09T05:01:02.345")
