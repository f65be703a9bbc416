"""Turns the results of one bench/run into tables (Markdown). The first: operation, Quarrow2,
raw, ratio, JDK, Python, in nanoseconds of the calling thread's CPU time per operation,
followed by notes on what was skipped and the allocation counts. Then the item operations'
system calls beside the raw calls', and the tool's walks beside getfattr.

Quarrow2, raw and ratio come from the same benchmark: the library's time is the benchmark's
(manual) time, raw its raw_ns counter and ratio its ratio_vs_raw counter, both measured in
the same blocks of calls (bench/support/paired_timing.h). JDK and Python come from their own
loops in the same bench/run, on the same volumes and values.

The Python module's gets and puts (runner "Python module" in peers.jsonl, from
bench/python/module_loops.py) follow as rows of their own: Quarrow2 is the module's time, raw
os.getxattr's or os.setxattr's on the same file (for dict(items), the os.listxattr and
os.getxattr loop that reads the same items), in blocks taken in turn.

System calls (syscalls.jsonl, from bench/syscalls/count.py): per operation, counted with
strace -f, beside the operation's time from the first table. The walks (tree.jsonl, from
bench/tree/tree_walks.py): wall time, CPU per file, system calls per file and peak memory of
the tool and of getfattr over the same tree.

Usage: table.py RESULTS (the folder holding benchmarks.json, allocations.json, peers.jsonl,
syscalls.jsonl and tree.jsonl; a part that was not run is left out)
"""
import json
import os
import sys
from collections import OrderedDict

PEER_OPERATIONS = ("Text get", "Text put", "Data get", "Data put", "Length")


def load_benchmarks(path):
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)["benchmarks"]
    except FileNotFoundError:
        return []


def load_peers(path):
    """The peers' results by (runner, volume, operation, size); whole runs that could not
    happen (operation "*") go under the key None as (runner, volume, reason)."""
    peers = {None: []}
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                line = line.strip()
                if line.startswith("{"):
                    record = json.loads(line)
                    if record["operation"] == "*":
                        peers[None].append((record["runner"], record["volume"], record["skipped"]))
                        continue
                    peers[(record["runner"], record["volume"], record["operation"], record["size"])] = record
    except FileNotFoundError:
        pass
    return peers


def load_records(path):
    """One JSON object per line; none when there is no such file."""
    if not path:
        return []
    try:
        with open(path, encoding="utf-8") as f:
            return [json.loads(line) for line in f if line.strip().startswith("{")]
    except FileNotFoundError:
        return []


def split_name(name):
    name = name.removesuffix("/manual_time")
    volume, operation, detail = name.split("/", 2)
    return volume, operation, detail


def nanoseconds(value):
    return f"{value:,.0f}"


def peer_cell(peers, runner, volume, operation, detail, skipped):
    record = peers.get((runner, volume, operation, detail))
    if record is None:
        return "—"
    if "skipped" in record:
        skipped.setdefault((runner, record["skipped"]), []).append(f"{volume} {operation} {detail}")
        return "—"
    return nanoseconds(record["cpu_ns"])


def count(value):
    """Calls per operation: whole when exact, else with the fraction the trace showed."""
    return f"{value:,.0f}" if value == int(value) else f"{value:,.2f}"


def seconds(value):
    return f"{value:.3f} s"


def mebibytes(kib):
    return f"{kib / 1024:,.1f} MiB"


def print_syscalls(records, times):
    """The item operations: time and system calls per operation, Quarrow2 beside raw, and
    beside raw with the lock calls where the timings have such a row."""
    rows, skips = OrderedDict(), []
    for record in records:
        operation, _, locked = record["operation"].partition(" (raw: ")
        key = (record["volume"], operation, record["size"])
        name = f"{record['volume']} · {operation} · {record['size']}"
        if "skipped" in record:
            if not locked:
                skips.append(f"{name}: {record['skipped']}")
            continue
        row = rows.setdefault(key, {"name": name})
        if locked:
            row["locked"] = record["raw"]["per_call"]
        else:
            row.update(library=record["Quarrow2"], raw=record["raw"]["per_call"],
                       timed=times.get(key))
    if not rows and not skips:
        return
    print()
    print("System calls per operation, counted with strace -f on the steps the timings run "
          "(bench/syscalls); times as in the first table; share modes: those of Quarrow2's "
          "calls that claim, test, lock or give back in the share-mode store (its "
          "open-file-description locks, and any call on the store itself); raw with locks: the "
          "raw calls and the lock calls of the rows \"raw: with lock check\" and \"raw: with "
          "byte-range lock\":")
    print()
    print("| operation | Quarrow2 ns | raw ns | ratio | Quarrow2 calls | share modes | raw calls | "
          "raw calls with locks | Quarrow2's calls |")
    print("| --- | ---: | ---: | ---: | ---: | --- | ---: | ---: | --- |")
    for row in rows.values():
        if "library" not in row:
            continue
        timed = row["timed"]
        cells = [row["name"]]
        cells += ([nanoseconds(timed["real_time"]), nanoseconds(timed["raw_ns"]),
                   f"{timed['ratio_vs_raw']:.2f}×"] if timed else ["—"] * 3)
        share_modes = row["library"].get("share_mode_calls", {})
        cells += [count(row["library"]["per_call"]),
                  f"{count(sum(share_modes.values()))}: " +
                  ", ".join(f"{n} {count(c)}" for n, c in share_modes.items()) if share_modes else "0",
                  count(row["raw"]),
                  count(row["locked"]) if "locked" in row else "—",
                  ", ".join(f"{n} {count(c)}" for n, c in row["library"]["calls"].items())]
        print("| " + " | ".join(cells) + " |")
    for line in skips:
        print(f"- skipped: {line}")


def print_tree(records):
    """The tool's walks beside getfattr: wall, CPU per file, calls per file, peak memory."""
    times = [r for r in records if r["runner"] == "tree"]
    calls = {(r["volume"], r["operation"]): r for r in records if r["runner"] == "tree-syscalls"}
    stores = [r for r in records if r["runner"] == "tree-store"]
    if not times and not calls:
        return
    print()
    print("The tool's walks beside `getfattr -R -d -m '^user\\.'` over the same tree "
          "(bench/tree): wall time of the whole run, CPU time (user and system, all threads) per "
          "file and peak memory (ru_maxrss), best times and largest peak of the runs taken in "
          "turn; system calls per file counted with strace -c -f on a smaller tree:")
    print()
    print("| walk · tree | wall, tool | wall, tool -j 1 | wall, getfattr | wall ratio | "
          "CPU/file, tool | CPU/file, getfattr | CPU ratio | calls/file, tool | "
          "calls/item, tool | calls/file, getfattr | peak memory, tool | peak memory, getfattr |")
    print("| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: "
          "| ---: |")
    skips, memory = [], {}
    for record in times:
        name = f"{record['volume']} · {record['operation']} · {record['size']}"
        if "skipped" in record:
            skips.append(f"{name}: {record['skipped']}")
            continue
        tool, raw, single = record["tool"], record["getfattr"], record.get("tool -j 1")
        traced = calls.get((record["volume"], record["operation"]), {})
        traced_tool = traced.get("tool", {}).get("calls_per_file")
        traced_item = traced.get("tool", {}).get("calls_per_item")
        traced_raw = traced.get("getfattr", {}).get("calls_per_file")
        print("| " + " | ".join([
            name, seconds(tool["wall_s"]),
            seconds(single["wall_s"]) if single else "n/a (no -j)",
            seconds(raw["wall_s"]), f"{tool['wall_s'] / raw['wall_s']:.2f}×",
            nanoseconds(tool["cpu_ns_per_file"]), nanoseconds(raw["cpu_ns_per_file"]),
            f"{tool['cpu_ns_per_file'] / raw['cpu_ns_per_file']:.2f}×",
            f"{traced_tool:.1f}" if traced_tool is not None else "—",
            f"{traced_item:.1f}" if traced_item is not None else "—",
            f"{traced_raw:.1f}" if traced_raw is not None else "—",
            mebibytes(tool["peak_rss_kib"]), mebibytes(raw["peak_rss_kib"])]) + " |")
        memory.setdefault((record["volume"], record["operation"]), []).append(
            (record["files"], tool["peak_rss_kib"]))
    print()
    notes = []
    timed = [r for r in times if "skipped" not in r]
    if timed and not timed[0].get("jobs_option", False):
        notes.append("the tool has no -j option yet: \"tool\" is its one worker")
    traced_files = next((r["files"] for r in calls.values() if "skipped" not in r), None)
    if traced_files:
        notes.append(f"calls per file counted on a tree of {traced_files:,} files (strace "
                     "summaries in bench-results/strace-*.txt), the process's start included")
    for (volume, operation), sizes in memory.items():
        if len(sizes) > 1 and operation == "dump -r":
            (small_files, small), (large_files, large) = min(sizes), max(sizes)
            notes.append(f"{volume} dump -r peak memory: {mebibytes(large)} for "
                         f"{large_files:,} files, "
                         f"{mebibytes(small)} for {small_files:,} ({large / small:.2f}×)")
    for record in calls.values():
        if "skipped" in record:
            skips.append(f"system calls of {record['volume']} · {record['operation']}: "
                         f"{record['skipped']}")
    for record in stores:
        notes.append(f"{record['volume']} {record['operation']} over {record['files']:,} files "
                     f"opened the share-mode store's lock file {record['lock_file_opens']:,} "
                     f"times and made or removed {record['store_changes']:,} entries there")
    text = "; ".join(notes + [f"skipped: {line}" for line in skips])
    print(text[:1].upper() + text[1:] + ("." if text else ""))
    breakdown = [(f"{volume} · {operation}", variant, record[variant]["each_per_file"])
                 for (volume, operation), record in calls.items()
                 for variant in ("tool -j 1", "getfattr")
                 if "each_per_file" in record.get(variant, {})]
    if breakdown:
        print()
        print("Which calls a walk makes, per file (strace -c -f, the process's start and the "
              "folders' own calls spread over the files; calls under 0.05 per file left out):")
        print()
        print("| walk | calls per file |")
        print("| --- | --- |")
        for operation, variant, each in breakdown:
            shown = sorted(((count, call) for call, count in each.items() if count >= 0.05),
                           reverse=True)
            print(f"| {operation} · {variant} | "
                  + ", ".join(f"{call} {count:.2f}" for count, call in shown) + " |")


def main():
    results = sys.argv[1]
    at = lambda name: os.path.join(results, name)
    benchmarks = load_benchmarks(at("benchmarks.json"))
    peers = load_peers(at("peers.jsonl"))
    allocations_path = at("allocations.json")

    rows = []
    times = {}
    skipped = OrderedDict()
    peer_skips = OrderedDict()
    for b in benchmarks:
        volume, operation, detail = split_name(b["name"])
        if b.get("error_occurred"):
            skipped.setdefault((volume, b.get("error_message", "")), []).append(f"{operation} {detail}")
            continue
        assert b["time_unit"] == "ns", b["name"]
        times[(volume, operation, detail)] = b
        cells = [f"{volume} · {operation} · {detail}", nanoseconds(b["real_time"]),
                 nanoseconds(b["raw_ns"]), f"{b['ratio_vs_raw']:.2f}×"]
        if operation in PEER_OPERATIONS:
            cells += [peer_cell(peers, runner, volume, operation, detail, peer_skips)
                      for runner in ("JDK", "Python")]
        else:
            cells += ["—", "—"]
        rows.append(cells)
    module_skips = []
    for key, record in peers.items():
        if key is None or key[0] != "Python module":
            continue
        raw = record.get("raw") or ("os.getxattr" if record["operation"].endswith("get")
                                    else "os.setxattr")
        name = f"{record['volume']} · Python module {record['operation']} (raw: {raw}) · {record['size']}"
        if "skipped" in record:
            module_skips.append(f"{name}: {record['skipped']}")
            continue
        rows.append([name, nanoseconds(record["cpu_ns"]), nanoseconds(record["raw_ns"]),
                     f"{record['ratio']:.2f}×", "—", "—"])

    if rows:
        print("| operation | Quarrow2 | raw | ratio | JDK | Python |")
        print("| --- | ---: | ---: | ---: | ---: | ---: |")
        for cells in rows:
            print("| " + " | ".join(cells) + " |")
        print()
        print("Nanoseconds of the calling thread's CPU time (user and kernel) per operation; "
              "ratio = Quarrow2 / raw, from the same blocks of calls.")

    if skipped or peer_skips or peers[None] or module_skips:
        print()
        print("Skipped:")
        for line in module_skips:
            print(f"- {line}")
        for runner, volume, message in peers[None]:
            print(f"- {runner} on {volume}: {message}")
        for (volume, message), names in skipped.items():
            print(f"- {volume}, {len(names)} benchmarks ({'; '.join(names)}): {message}")
        for (runner, message), names in peer_skips.items():
            print(f"- {runner}, {len(names)} loops: {message}")

    allocations = OrderedDict()
    for b in load_benchmarks(allocations_path):
        if b.get("error_occurred"):
            continue
        volume, operation, detail = split_name(b["name"].split("/iterations:")[0])
        allocations.setdefault(operation, []).append(
            f"{detail}: {b['allocations_per_call']:.3g}")
    if allocations:
        print()
        print("Heap blocks allocated per call (counting allocator, on an open item): " +
              "; ".join(f"{operation} {', '.join(values)}" for operation, values in allocations.items()) + ".")

    print_syscalls(load_records(at("syscalls.jsonl")), times)
    print_tree(load_records(at("tree.jsonl")))


if __name__ == "__main__":
    main()
