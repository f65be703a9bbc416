"""Turns the results of one bench/run into one table (Markdown): operation, Quarrow2, raw,
ratio, JDK, Python, in nanoseconds of the calling thread's CPU time per operation, followed by
notes on what was skipped and the allocation counts.

Quarrow2, raw and ratio come from the same benchmark: the library's time is the benchmark's
(manual) time, raw its raw_ns counter and ratio its ratio_vs_raw counter, both measured in
the same blocks of calls (bench/support/paired_timing.h). JDK and Python come from their own
loops in the same bench/run, on the same volumes and values.

The tool's walks over a tree (TREE.jsonl, from bench/tree/tree_walks.py) follow as rows of
their own: Quarrow2 is the tool's CPU time per file, raw getfattr's over the same tree, run in
turn with it. So do the Python module's gets and puts (runner "Python module" in PEERS.jsonl,
from bench/python/module_loops.py): Quarrow2 is the module's time, raw os.getxattr's or
os.setxattr's on the same file, in blocks taken in turn.

Usage: table.py BENCHMARKS.json ALLOCATIONS.json PEERS.jsonl [TREE.jsonl]
"""
import json
import sys
from collections import OrderedDict

PEER_OPERATIONS = ("Text get", "Text put", "Data get", "Data put", "Length")


def load_benchmarks(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)["benchmarks"]


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


def main():
    benchmarks_path, allocations_path, peers_path = sys.argv[1:4]
    tree_path = sys.argv[4] if len(sys.argv) > 4 else None
    benchmarks = load_benchmarks(benchmarks_path)
    peers = load_peers(peers_path)

    rows = []
    skipped = OrderedDict()
    peer_skips = OrderedDict()
    for b in benchmarks:
        volume, operation, detail = split_name(b["name"])
        if b.get("error_occurred"):
            skipped.setdefault((volume, b.get("error_message", "")), []).append(f"{operation} {detail}")
            continue
        assert b["time_unit"] == "ns", b["name"]
        cells = [f"{volume} · {operation} · {detail}", nanoseconds(b["real_time"]),
                 nanoseconds(b["raw_ns"]), f"{b['ratio_vs_raw']:.2f}×"]
        if operation in PEER_OPERATIONS:
            cells += [peer_cell(peers, runner, volume, operation, detail, peer_skips)
                      for runner in ("JDK", "Python")]
        else:
            cells += ["—", "—"]
        rows.append(cells)
    tree_skips = []
    for record in load_records(tree_path):
        name = f"{record['volume']} · tool {record['operation']} (raw: getfattr -R -d) · {record['size']}"
        if "skipped" in record:
            tree_skips.append(f"{name}: {record['skipped']}")
            continue
        rows.append([name, nanoseconds(record["cpu_ns"]), nanoseconds(record["raw_ns"]),
                     f"{record['ratio']:.2f}×", "—", "—"])
    for key, record in peers.items():
        if key is None or key[0] != "Python module":
            continue
        raw = "os.getxattr" if record["operation"].endswith("get") else "os.setxattr"
        name = f"{record['volume']} · Python module {record['operation']} (raw: {raw}) · {record['size']}"
        if "skipped" in record:
            tree_skips.append(f"{name}: {record['skipped']}")
            continue
        rows.append([name, nanoseconds(record["cpu_ns"]), nanoseconds(record["raw_ns"]),
                     f"{record['ratio']:.2f}×", "—", "—"])

    print("| operation | Quarrow2 | raw | ratio | JDK | Python |")
    print("| --- | ---: | ---: | ---: | ---: | ---: |")
    for cells in rows:
        print("| " + " | ".join(cells) + " |")
    print()
    print("Nanoseconds of the calling thread's CPU time (user and kernel) per operation; "
          "ratio = Quarrow2 / raw, from the same blocks of calls. The tool's walks: the whole "
          "process's CPU time per file, best of 5 runs taken in turn with getfattr's.")

    if skipped or peer_skips or peers[None] or tree_skips:
        print()
        print("Skipped:")
        for line in tree_skips:
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


if __name__ == "__main__":
    main()
