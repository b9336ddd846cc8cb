#!/usr/bin/env python3
"""Wall time of a multi-file export profiled on a LocalCluster of 1 and 2 workers against
`profile_export` in one process, and what the ordered tree reduction costs.

    python bench/dask_scaling.py '/tmp/dask_bench/part*.csv' [--workers 1 2] [--repeat 2]

For each cluster size the run is timed whole (`profile_files`), then split in two: the scan
tasks persisted on the cluster (scan phase), then the reduction of those partials to the
profile (merge tree and finish). Every distributed profile is checked against the one-process
profile; a mismatch aborts. Needs the dask extra. Not a test: figures vary on a shared machine.
"""
import argparse
import glob
import os
import statistics
import sys
import time

from distributed import Client, LocalCluster, wait

import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import dask as qd


def timed(run, repeat):
    times, result = [], None
    for _ in range(repeat):
        start = time.perf_counter()
        result = run()
        times.append(time.perf_counter() - start)
    return statistics.median(times), result


def phases(client, paths, chunk, split_every):
    """(scan seconds, reduction seconds, number of pieces, total partial bytes)."""
    options = qd._build_options({}, None, None)
    start = time.perf_counter()
    leaves = client.persist(qd._file_pieces(paths, options, chunk))
    wait([leaf for leaf in leaves])
    scanned = time.perf_counter()
    sizes = client.gather(client.compute([qd.delayed(len)(leaf) for leaf in leaves]))
    reduce_start = time.perf_counter()
    raw = client.compute(qd._reduce(leaves, options, split_every)).result()
    reduced = time.perf_counter()
    assert raw["seal"], "no profile"
    del leaves
    return scanned - start, reduced - reduce_start, len(sizes), sum(sizes)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("pattern")
    ap.add_argument("--workers", type=int, nargs="+", default=[1, 2])
    ap.add_argument("--repeat", type=int, default=2)
    ap.add_argument("--chunk-mib", type=int, default=64)
    ap.add_argument("--split-every", type=int, default=8)
    a = ap.parse_args()
    paths = sorted(glob.glob(a.pattern))
    total = sum(os.path.getsize(p) for p in paths)
    print(f"{len(paths)} files, {total / 1e9:.2f} GB, {os.cpu_count()} cores, "
          f"load average {os.getloadavg()[0]:.1f}")

    single, expected = timed(lambda: edge.profile_export(paths), a.repeat)
    print(f"| profile_export, one process (native threads on every core) | {single:.2f} s | "
          f"{total / single / 1e6:.0f} MB/s |")
    for n in a.workers:
        with LocalCluster(n_workers=n, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            run = lambda: qd.profile_files(paths, client=client,  # noqa: E731
                                           chunk_bytes=a.chunk_mib << 20,
                                           split_every=a.split_every)
            whole, got = timed(run, a.repeat)
            if got != expected:
                sys.exit(f"{n} worker(s): the profile differs from the one-process profile")
            scan, reduction, pieces, blob_bytes = phases(client, paths, a.chunk_mib << 20,
                                                         a.split_every)
        print(f"| LocalCluster, {n} worker(s) x 1 thread | {whole:.2f} s | "
              f"{total / whole / 1e6:.0f} MB/s | ratio to one process {whole / single:.2f} | "
              f"scan phase {scan:.2f} s | reduction {reduction:.3f} s over {pieces} pieces "
              f"({blob_bytes / 1e6:.1f} MB of partials) |")


if __name__ == "__main__":
    main()
