#!/usr/bin/env python3
"""Turns the suite's JSON output into the figures tables: speed-ups over the
scalar transcriptions, fractions of the machine limits, stage shares, memcpy
ratios and the issue's targets, met or not.

  bench/report.py results.json [--peers peers.txt] [--readme bench/README.md]

With --readme the tables replace the text between the two figures markers of
that file; otherwise they go to standard output.
"""
import argparse
import json
import re
import subprocess
import sys

BEGIN, END = "<!-- figures:begin -->", "<!-- figures:end -->"


def load(path):
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("error_occurred"):
            continue
        # With repetitions, keep the medians only.
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"]).replace("/real_time", "")
        if b.get("run_type") == "aggregate" or name not in runs:
            runs[name] = b
    return data.get("context", {}), runs


def seconds(b):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
    return (b["real_time"] if "/real_time" in b["name"] else b["cpu_time"]) * scale


def us(b):
    return seconds(b) * 1e6


def fmt_time(s):
    if s is None:
        return "-"
    if s < 1e-6:
        return f"{s * 1e9:.0f} ns"
    if s < 1e-3:
        return f"{s * 1e6:.1f} us"
    return f"{s * 1e3:.2f} ms"


def ratio(a, b):
    return a / b if a and b else None


def fmt_x(x, digits=1):
    return "-" if x is None else f"{x:.{digits}f}x"


def fmt_pct(x):
    return "-" if x is None else f"{100 * x:.0f} %"


def met(ok):
    return "met" if ok else "**not met**"


class Report:
    def __init__(self, context, runs, peers):
        self.context, self.runs, self.peers = context, runs, peers
        self.lines = []
        self.targets = []
        g = lambda name, key: runs[name][key] if name in runs and key in runs[name] else None
        self.peak8 = g("Limit/MulAdd/8lane", "pairs_per_s")
        self.peak4 = g("Limit/MulAdd/4lane", "pairs_per_s")
        self.rate = {f"{fn}/{fam}": g(f"Limit/{fn}/{fam}", "items_per_second")
                     for fn in ("Sin", "Cos") for fam in ("avx2_vector", "sse2_vector", "avx2_scalar", "sse2_scalar")}
        self.alloc_rate = g("Limit/Allocator/fft_pattern/1024", "items_per_second")

    def out(self, *lines):
        self.lines.extend(lines)

    def table(self, header, rows):
        self.out("| " + " | ".join(header) + " |", "|" + "---|" * len(header))
        for r in rows:
            self.out("| " + " | ".join(str(c) for c in r) + " |")
        self.out("")

    def get(self, name):
        return self.runs.get(name)

    # --- sections -------------------------------------------------------------------
    def machine(self):
        model, family = "unknown", {}
        try:
            for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
                key, _, value = line.partition(":")
                if key == "Model name":
                    model = value.strip()
                elif key in ("CPU family", "Model"):
                    family[key] = value.strip()
        except OSError:
            pass
        if family:
            model += f" (family {family.get('CPU family', '?')}, model {family.get('Model', '?')})"
        c = self.context
        load = ", ".join(f"{x:.1f}" for x in c.get("load_avg", []))
        self.out(f"Machine: {model}, {c.get('num_cpus', '?')} cores at {c.get('mhz_per_cpu', '?')} MHz "
                 f"(load average at start: {load or '?'}); run of {c.get('date', '?')}.", "")

    def limits(self):
        self.out("### Machine limits", "")
        r = self.rate
        rows = [
            ["Independent 8-lane multiplies + adds (not fused)", f"{self.peak8 / 1e9:.1f} G pairs/s" if self.peak8 else "-"],
            ["Independent 4-lane multiplies + adds (not fused)", f"{self.peak4 / 1e9:.1f} G pairs/s" if self.peak4 else "-"],
        ]
        for fam, label in (("avx2_vector", "AVX2 set, 8-wide"), ("sse2_vector", "SSE2 set, 4-wide"),
                           ("avx2_scalar", "AVX2 set, scalar"), ("sse2_scalar", "SSE2 set, scalar")):
            s, c = r.get(f"Sin/{fam}"), r.get(f"Cos/{fam}")
            rows.append([f"SLEEF sine / cosine, {label}",
                         f"{s / 1e6:.0f} / {c / 1e6:.0f} M values/s" if s and c else "-"])
        rows.append(["Host allocator, transform's pattern (allocate, zero, free)",
                     f"{self.alloc_rate / 1e6:.1f} M allocations/s" if self.alloc_rate else "-"])
        for name, label in (("tracked_pair_16B", "Host allocator, one 16-byte allocate + free"),
                            ("malloc_pair_16B", "C library malloc + free, 16 bytes")):
            b = self.get(f"Limit/Allocator/{name}")
            if b:
                rows.append([label, f"{b['items_per_second'] / 1e6:.1f} M pairs/s ({seconds(b) * 1e9:.1f} ns)"])
        self.table(["Limit", "Rate"], rows)

    def kernels(self):
        self.out("### Function entries (time per call; speed-up over the scalar transcription in the set's math)", "")
        keys = []  # (entry, size) in the order the suite registers them
        for n in self.runs:
            m = re.match(r"Kernel/([^/]+)/[^/]+/(\d+)$", n)
            if m and (m.group(1), int(m.group(2))) not in keys:
                keys.append((m.group(1), int(m.group(2))))
        rows = []
        for entry, size in keys:
            t = {impl: seconds(self.get(f"Kernel/{entry}/{impl}/{size}")) if self.get(f"Kernel/{entry}/{impl}/{size}") else None
                 for impl in ("sse2", "avx2", "ref_sse2", "ref_avx2")}
            b = self.get(f"Kernel/{entry}/avx2/{size}") or self.get(f"Kernel/{entry}/sse2/{size}")
            allocs = b.get("allocs", 0) if b else 0
            note = ""
            if entry == "LowPassFilterDirect" and b:
                pairs = b["pairs"]
                note = (f"{fmt_pct(pairs / t['avx2'] / self.peak8) if t['avx2'] and self.peak8 else '-'} of 8-lane peak; "
                        f"SSE2 {fmt_pct(pairs / t['sse2'] / self.peak4) if t['sse2'] and self.peak4 else '-'} of 4-lane peak")
            if entry in ("FastFourierTransform", "MagnitudeSpectrum") and allocs and self.alloc_rate and t["avx2"]:
                a = allocs / self.alloc_rate
                note = f"allocations ~{fmt_time(a)} at the allocator's rate, arithmetic ~{fmt_time(t['avx2'] - a)}"
            rows.append([entry, size, fmt_time(t["sse2"]), fmt_time(t["ref_sse2"]), fmt_x(ratio(t["ref_sse2"], t["sse2"])),
                         fmt_time(t["avx2"]), fmt_time(t["ref_avx2"]), fmt_x(ratio(t["ref_avx2"], t["avx2"])),
                         f"{allocs:.0f}" if allocs else "0", note])
        self.table(["Entry", "Size", "SSE2", "scalar", "x", "AVX2", "scalar", "x", "allocs", "Note"], rows)

    def limit_seconds(self, b, avx2):
        """Sum of the stages' machine limits for one block."""
        peak = self.peak8 if avx2 else self.peak4
        fam = "avx2_vector" if avx2 else "sse2_vector"
        sin, cos = self.rate.get(f"Sin/{fam}"), self.rate.get(f"Cos/{fam}")
        if not (peak and sin and cos and self.alloc_rate):
            return None
        return (b["filter_pairs"] / peak + b["fft_sincos"] * (1 / sin + 1 / cos)
                + b["other_transcendentals"] / cos + b["allocs"] / self.alloc_rate)

    def job(self):
        self.out("### LipSyncJob per block (16 kHz analysis, N = 1024, 30 mel channels, 12 MFCC, 5 phonemes)", "")
        rows = []
        for n in self.runs:
            m = re.match(r"LipSyncJob/([^/]+)/avx2/([^/]+)$", n)
            if not m:
                continue
            cfg, method = m.groups()
            get = lambda impl: self.get(f"LipSyncJob/{cfg}/{impl}/{method}")
            s2, a2, r2, ra2 = get("sse2"), get("avx2"), get("ref_sse2"), get("ref_avx2")
            lim = self.limit_seconds(a2, True)
            matches = all(x is None or x.get("matches_ref", 1) == 1 for x in (s2, a2))
            rows.append([cfg, method, fmt_time(seconds(s2)) if s2 else "-", fmt_x(ratio(seconds(r2), seconds(s2))) if r2 and s2 else "-",
                         fmt_time(seconds(a2)), fmt_time(seconds(ra2)) if ra2 else "-",
                         fmt_x(ratio(seconds(ra2), seconds(a2))) if ra2 else "-",
                         f"{a2['allocs']:.0f}", fmt_time(lim), fmt_x(ratio(seconds(a2), lim), 2),
                         "yes" if matches else "**no**"])
            if cfg == "48k":
                self.targets.append((f"LipSyncJob 48 kHz {method}, AVX2: >= 10x the scalar transcription",
                                     fmt_x(ratio(seconds(ra2), seconds(a2))) if ra2 else "-",
                                     ra2 is not None and seconds(ra2) / seconds(a2) >= 10))
                if lim:
                    self.targets.append((f"LipSyncJob 48 kHz {method}, AVX2: <= 1.5x the sum of stage limits ({fmt_time(lim)})",
                                         fmt_x(seconds(a2) / lim, 2), seconds(a2) / lim <= 1.5))
        self.table(["Input", "Method", "SSE2", "x scalar", "AVX2", "scalar", "x scalar", "allocs", "limit sum",
                    "AVX2 / limit", "bits = scalar"], rows)
        self.out("Limit sum: filter pairs at the peak multiply-add rate, every sine and cosine (the transform's, the "
                 "kernel's, the window's, the cepstrum's; the few exponentials, logarithms and powers counted as cosines) "
                 "at SLEEF's vector rate, and every tracked allocation at the allocator's rate on the transform's pattern.", "")

    def stages(self):
        self.out("### Stage shares (entries called in sequence on the same data; median per stage)", "")
        stage_names = ["energy", "unroll", "lowpass", "downsample", "conditioning", "spectrum", "mel", "decibel", "dct", "scoring"]
        rows = []
        for n, b in self.runs.items():
            m = re.match(r"LipSyncStages/([^/]+)/([^/]+)$", n)
            if m:
                rows.append([m.group(1), m.group(2)] + [f"{b[s + '_us']:.1f} us ({b[s + '_pct']:.0f} %)" for s in stage_names]
                            + [f"{b['stages_us']:.1f} us"])
        self.table(["Input", "Set"] + stage_names + ["sum"], rows)

    def textures(self):
        self.out("### Texture jobs (time per picture)", "")
        rows = []
        seen = []
        for n in self.runs:
            m = re.match(r"Texture/([^/]+)/[^/]+/(\d+x\d+)$", n)
            if m and m.groups() not in seen:
                seen.append(m.groups())
        for job, size in seen:
            t = {i: seconds(self.get(f"Texture/{job}/{i}/{size}")) if self.get(f"Texture/{job}/{i}/{size}") else None
                 for i in ("sse2", "avx2", "ref_sse2", "ref_avx2")}
            px = int(size.split("x")[0]) * int(size.split("x")[1])
            rows.append([job, size, fmt_time(t["sse2"]), fmt_x(ratio(t["ref_sse2"], t["sse2"])), fmt_time(t["avx2"]),
                         fmt_x(ratio(t["ref_avx2"], t["avx2"])),
                         f"{px / t['avx2'] / 1e6:.0f} M pixels/s" if t["avx2"] else "-"])
        self.table(["Job", "Size", "SSE2", "x scalar", "AVX2", "x scalar", "AVX2 rate"], rows)

    def mesh(self):
        self.out("### Mesh jobs over 1,000,000 elements (bytes read + written per second)", "")
        rows = []
        jobs = []
        for n in self.runs:
            m = re.match(r"Mesh/([^/]+)/", n)
            if m and m.group(1) not in jobs:
                jobs.append(m.group(1))
        cpu = lambda b: b.get("cpu_us") if b else None
        for job in jobs:
            mc = {w: self.get(f"Memcpy/{job}/memcpy/workers:{w}") for w in (1, 2)}
            for s in ("sse2", "avx2"):
                b = {w: self.get(f"Mesh/{job}/{s}/workers:{w}") for w in (1, 2)}
                if not b[1]:
                    continue
                rate = {w: b[w]["bytes_per_second"] if b[w] else None for w in (1, 2)}
                mrate = {w: mc[w]["bytes_per_second"] if mc[w] else None for w in (1, 2)}
                scaling = ratio(rate[2], rate[1])
                cpu_scaling = ratio(2 * cpu(b[1]), cpu(b[2])) if cpu(b[1]) and cpu(b[2]) else None
                of_memcpy = ratio(rate[1], mrate[1])
                cpu_of_memcpy = ratio(cpu(mc[1]), cpu(b[1])) if cpu(mc[1]) and cpu(b[1]) else None
                rows.append([job, s, fmt_time(seconds(b[1])), f"{rate[1] / 1e9:.1f} GB/s",
                             f"{mrate[1] / 1e9:.1f} GB/s" if mrate[1] else "-", fmt_pct(of_memcpy), fmt_pct(cpu_of_memcpy),
                             fmt_time(seconds(b[2])) if b[2] else "-", f"{rate[2] / 1e9:.1f} GB/s" if rate[2] else "-",
                             fmt_x(scaling, 2), fmt_x(cpu_scaling, 2)])
                if job == "InterleaveVerticesJob-all_inputs":
                    self.targets.append((f"Vertex job ({s}): 2 workers >= 1.7x 1 worker (wall; CPU-time estimate)",
                                         f"{fmt_x(scaling, 2)} ({fmt_x(cpu_scaling, 2)})",
                                         scaling is not None and scaling >= 1.7))
                    self.targets.append((f"Vertex job ({s}), 1 worker: >= 50 % of memcpy of the same bytes (wall; CPU time)",
                                         f"{fmt_pct(of_memcpy)} ({fmt_pct(cpu_of_memcpy)})",
                                         of_memcpy is not None and of_memcpy >= 0.5))
        self.table(["Job", "Set", "1 worker", "rate", "memcpy", "of memcpy", "(CPU)", "2 workers", "rate", "2 / 1",
                    "(CPU est.)"], rows)
        self.out("Wall clock, the targets' measure; in parentheses the same ratios from the process's CPU time, "
                 "which a busy machine does not stretch: memcpy CPU over the job's, and 2 x (1-worker CPU) / "
                 "(2-worker CPU).", "")

    def collect_kernel_targets(self):
        b = self.get("Kernel/LowPassFilterDirect/avx2/3072")
        if b and self.peak8:
            f = b["pairs"] / seconds(b) / self.peak8
            self.targets.insert(0, ("LowPassFilterDirect, 298 taps x 3072 samples, AVX2: >= 60 % of peak multiply-add",
                                    fmt_pct(f), f >= 0.6))
        b = self.get("Kernel/FastFourierTransform/avx2/1024")
        if b and self.alloc_rate:
            a = b["allocs"] / self.alloc_rate
            rest = seconds(b) - a
            self.targets.insert(1, (f"FastFourierTransform N = 1024, AVX2: {b['allocs']:.0f} allocations cost no more "
                                    f"than the arithmetic", f"{fmt_time(a)} vs {fmt_time(rest)}", a <= rest))

    def peer_targets(self):
        if not self.peers:
            self.targets.append(("orovox analyze vs aubiomfcc (bench/compare_peers.sh)", "not run", False))
            return
        self.out("### Whole file: orovox analyze vs aubiomfcc (10-minute 48 kHz recording, hop 800, medians)", "")
        rows = [line.split("\t") for line in self.peers if line.strip() and not line.startswith("#")]
        rows = [r for r in rows if len(r) >= 4]
        self.table(["Command", "Median wall", "Median CPU", "Wall runs"],
                   [[r[0], f"{r[1]} s", f"{r[2]} s", r[3]] for r in rows])
        wall = {r[0]: float(r[1]) for r in rows if re.match(r"^[0-9.]+$", r[1])}
        for jobs, bufsize in ((1, 2048), (2, 1024)):
            ours = next((v for k, v in wall.items() if k.startswith("orovox") and f"--jobs {jobs}" in k), None)
            theirs = next((v for k, v in wall.items() if k.startswith("aubiomfcc") and f"-B {bufsize}" in k), None)
            self.targets.append((f"orovox analyze --jobs {jobs}: no slower than aubiomfcc -B {bufsize} -H 800 (wall)",
                                 f"{ours:.2f} s vs {theirs:.2f} s" if ours and theirs else "-",
                                 bool(ours and theirs and ours <= theirs)))

    def render(self):
        self.machine()
        self.collect_kernel_targets()
        body_start = len(self.lines)
        self.limits()
        self.kernels()
        self.job()
        self.stages()
        self.textures()
        self.mesh()
        self.peer_targets()
        body = self.lines[body_start:]
        self.lines = self.lines[:body_start]
        self.out("### Targets", "")
        self.table(["Target", "Measured", "Status"], [[t, m, met(ok)] for t, m, ok in self.targets])
        self.lines.extend(body)
        return "\n".join(self.lines).rstrip() + "\n"


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("results")
    p.add_argument("--peers", help="tab-separated medians written by compare_peers.sh")
    p.add_argument("--readme", help="replace the figures between the markers of this file")
    a = p.parse_args()
    context, runs = load(a.results)
    peers = open(a.peers).read().splitlines() if a.peers else None
    text = Report(context, runs, peers).render()
    if not a.readme:
        sys.stdout.write(text)
        return
    with open(a.readme) as f:
        readme = f.read()
    if BEGIN not in readme or END not in readme:
        sys.exit(f"report: {a.readme} has no {BEGIN} ... {END} markers")
    head, rest = readme.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    with open(a.readme, "w") as f:
        f.write(head + BEGIN + "\n" + text + END + tail)


if __name__ == "__main__":
    main()
