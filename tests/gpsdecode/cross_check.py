#!/usr/bin/env python3
"""This project's NAV-PVT and NAV-SAT decoding against gpsd's gpsdecode, on random epochs.

Writes a seeded random stream of epochs (a NAV-SAT of up to 40 satellites, then a NAV-PVT with a
2D or 3D fix), has both decoders read it and compares what each makes of every field both
report: each satellite's system, number, C/N0, elevation, azimuth and use, and the fix, the
position and the horizontal and vertical accuracy estimates. gpsd leaves the time accuracy and
the position DOP of NAV-PVT out of what gpsdecode prints (its DOPs are its own), and it takes an
azimuth of 359 degrees for none, so the azimuths drawn stop at 358; it knows QZSS numbers 1 to 7
only (with 8 to 10 in an epoch it loses other satellites too), so those are all that is drawn.

    cross_check.py UBX_DUMP GPSDECODE [SEED [EPOCHS]]
"""
import json
import os
import random
import struct
import subprocess
import sys
import tempfile


# Each system's satellite numbers as NAV-SAT gives them (gnssId, first, last).
NUMBERS = [(0, 1, 32), (1, 120, 158), (2, 1, 36), (3, 1, 37), (5, 1, 7), (6, 1, 24)]


def frame(message_id, payload):
    body = bytes([0x01, message_id]) + struct.pack("<H", len(payload)) + payload
    a = b = 0
    for x in body:
        a = (a + x) & 255
        b = (b + a) & 255
    return b"\xb5\x62" + body + bytes([a, b])


def epoch(rng, k):
    itow = 100_000_000 + 1000 * k
    satellites = []
    seen = set()
    for _ in range(rng.randint(1, 40)):
        gnss, first, last = rng.choice(NUMBERS)
        sv = rng.randint(first, last)
        if (gnss, sv) in seen:
            continue
        seen.add((gnss, sv))
        satellites.append((gnss, sv, rng.randint(0, 60), rng.randint(-90, 90),
                           rng.randint(0, 358), rng.random() < 0.5))
    sat = bytearray(8 + 12 * len(satellites))
    struct.pack_into("<IBB", sat, 0, itow, 1, len(satellites))
    for i, (gnss, sv, cno, el, az, used) in enumerate(satellites):
        struct.pack_into("<BBBbhhI", sat, 8 + 12 * i, gnss, sv, cno, el, az, 0,
                         0x08 if used else 0)
    pvt = bytearray(92)
    fix = rng.choice([2, 3])
    hmsl = rng.randint(-400_000, 9_000_000)
    second = k % 60
    minute = (k // 60) % 60
    struct.pack_into("<IHBBBBBBIiBBBBiiiiII", pvt, 0, itow, 2026, 12, 8, 12, minute, second, 0x37,
                     rng.randint(0, 10**6), 0, fix, 0x01, 0, rng.randint(4, 30),
                     rng.randint(-1_800_000_000, 1_799_999_999),
                     rng.randint(-899_999_999, 899_999_999), hmsl + 48_000, hmsl,
                     rng.randint(0, 10**6), rng.randint(0, 10**6))
    struct.pack_into("<H", pvt, 76, rng.randint(0, 9999))
    return frame(0x35, bytes(sat)) + frame(0x07, bytes(pvt)), satellites


def ours(dump, path):
    with open(path, "rb") as stream:
        lines = subprocess.run([dump], stdin=stream, capture_output=True, check=True,
                               timeout=60).stdout.decode().splitlines()
    pvts, epochs = [], []
    for line in lines:
        kind, *fields = line.split()
        values = {k: int(v) for k, v in (f.split("=") for f in fields)}
        if kind == "PVT":
            pvts.append(values)
        elif kind == "NAVSAT":
            epochs.append([])
        else:
            epochs[-1].append(values)
    return pvts, epochs


def theirs(gpsdecode, path):
    env = dict(os.environ)
    lib = os.path.join(os.path.dirname(gpsdecode), "..", "lib", "x86_64-linux-gnu")
    env["LD_LIBRARY_PATH"] = os.path.abspath(lib) + ":" + env.get("LD_LIBRARY_PATH", "")
    with open(path, "rb") as stream:
        out = subprocess.run([gpsdecode, "-j"], stdin=stream, capture_output=True, check=True,
                             timeout=60, env=env).stdout.decode()
    tpvs, skies = {}, []
    for line in out.splitlines():
        report = json.loads(line)
        if report["class"] == "TPV":
            tpvs[report["time"]] = report  # it may repeat an epoch's; the last one stands
        elif report["class"] == "SKY":
            skies.append(report.get("satellites", []))
    return list(tpvs.values()), skies


def main():
    dump, gpsdecode = sys.argv[1], sys.argv[2]
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 7130
    count = int(sys.argv[4]) if len(sys.argv) > 4 else 400
    rng = random.Random(seed)
    with tempfile.NamedTemporaryFile(suffix=".ubx", delete=False) as f:
        path = f.name
        written = []
        for k in range(count):
            data, satellites = epoch(rng, k)
            f.write(data)
            written.extend(satellites)
    try:
        pvts, sats = ours(dump, path)
        satellites = sum(map(len, sats))
        tpvs, skies = theirs(gpsdecode, path)
    finally:
        os.unlink(path)
    faults = []
    if len(pvts) != count or len(tpvs) != count or satellites != len(written):
        faults.append(f"{count} epochs, {len(written)} satellites written; we read {len(pvts)} "
                      f"and {satellites}, gpsdecode {len(tpvs)} and {sum(map(len, skies))}")
    # gpsd sorts an epoch's satellites its own way, so each epoch's are compared as sets.
    for k, (mine, sky) in enumerate(zip(sats, skies)):
        mine_ = {(m["gnss"], m["sv"], m["cno"], m["el"], m["az"], m["used"] == 1) for m in mine}
        theirs_ = {(t["gnssid"], t["svid"], t["ss"], t["el"], t.get("az"), t["used"])
                   for t in sky}
        faults += [f"epoch {k}: only ours has {s}" for s in sorted(mine_ - theirs_)]
        faults += [f"epoch {k}: only gpsdecode has {s}" for s in sorted(theirs_ - mine_)]
    for mine, tpv in zip(pvts, tpvs):
        pairs = [("mode", mine["fix"], tpv["mode"]),
                 ("lat", mine["lat"], round(tpv["lat"] * 1e7)),
                 ("lon", mine["lon"], round(tpv["lon"] * 1e7)),
                 ("eph", mine["hacc"], round(tpv["eph"] * 1000)),
                 ("epv", mine["vacc"], round(tpv["epv"] * 1000))]
        if tpv["mode"] == 3:
            pairs.append(("altMSL", mine["msl"], round(tpv["altMSL"] * 1000)))
        faults += [f"{name}: ours {a}, gpsdecode's {b}" for name, a, b in pairs if a != b]
    for fault in faults[:20]:
        print(fault)
    print(f"seed {seed}: {count} NAV-PVT and {len(written)} satellites compared, "
          f"{len(faults)} differences")
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
