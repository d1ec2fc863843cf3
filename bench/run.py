#!/usr/bin/env python3
"""Zelvane's benchmark suite: each pair of commands run alternately on the same data, medians and ratios.

    python3 bench/run.py [--zelvane build/zelvane] [--rounds 5] [--quick] [--only walk,exec,...] [--load N]

Builds every tree it needs in a temporary directory (deterministic names and contents) and removes it
afterwards. Needs find, and for some pairs fdfind (Debian's fd-find) and python3's zlib; the walk group sets the walk
beside bench/min_walk.cpp when it is built (`cmake --build build --target min_walk`).
Groups: walk, specs, exec, gather, output, crc, scale, and (only when named, for it starts 100,000 processes a
round) log. With --load N, N busy processes run beside the exec group, as
other work on the machine would.
"""
import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zlib


def run(cmd, cwd, env=None):
    """Runs one command with its output thrown away; returns its wall time in seconds."""
    start = time.perf_counter()
    subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False, env=env)
    return time.perf_counter() - start


def output_of(cmd, cwd):
    return subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False).stdout


def compare(title, commands, cwd, rounds, results, env=None):
    """Runs each named command once to warm the cache, then `rounds` times alternately."""
    for cmd in commands.values():
        run(cmd, cwd, env)
    times = {name: [] for name in commands}
    for _ in range(rounds):
        for name, cmd in commands.items():
            times[name].append(run(cmd, cwd, env))
    medians = {name: statistics.median(values) for name, values in times.items()}
    first = next(iter(commands))
    print(f"\n## {title}")
    for name, cmd in commands.items():
        ratio = medians[first] / medians[name] if medians[name] > 0 else float("nan")
        shown = " ".join(cmd)
        print(f"  {name:<8} median {medians[name]:8.3f} s   zelvane/this {ratio:5.2f}   {shown[:110]}")
    results.append((title, medians, commands))
    return medians


def busy_processes(count):
    """Starts `count` processes that keep a processor busy until they are killed."""
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(count)]


def empty_files(root, count, per_directory=0):
    """Makes `root` and `count` empty .txt files in it, in directories of `per_directory` files when that is
    given; flushed to disk."""
    os.makedirs(root)
    for k in range(count):
        folder = root if not per_directory else os.path.join(root, f"d{k // per_directory:04d}")
        if per_directory and k % per_directory == 0:
            os.makedirs(folder)
        open(os.path.join(folder, f"f{k:06d}.txt"), "w").close()
    os.sync()


def make_tree(root, directories, files_per_dir):
    """`directories` directories in two levels, each with `files_per_dir` files of assorted extensions."""
    names = ["main.c", "util.c", "Parse.C", "x.h", "readme.txt", "Makefile", "a.o", "data.csv", "c.cc", "lib.H"]
    top = max(1, int(directories ** 0.5))
    made = 0
    i = 0
    while made < directories:
        parent = os.path.join(root, f"d{i:04d}")
        os.makedirs(parent, exist_ok=True)
        made += 1
        for j in range(top - 1):
            if made >= directories:
                break
            child = os.path.join(parent, f"s{j:04d}")
            os.mkdir(child)
            made += 1
        i += 1
    for dirpath, _, _ in os.walk(root):
        for k in range(files_per_dir):
            open(os.path.join(dirpath, names[k % len(names)] if k < len(names) else f"f{k}.c"), "w").close()
    # A tree just written is still being flushed to disk; timing it then measures the flush.
    os.sync()


def count_files(root):
    return sum(len(files) for _, _, files in os.walk(root))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zelvane", default="build/zelvane")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="smaller trees and files")
    parser.add_argument("--only", default="walk,specs,exec,gather,output,crc,scale")
    parser.add_argument("--load", type=int, default=0, help="busy processes beside the exec group")
    args = parser.parse_args()
    zelvane = os.path.abspath(args.zelvane)
    min_walk = os.path.join(os.path.dirname(zelvane), "min_walk")
    groups = set(args.only.split(","))
    fd = shutil.which("fdfind") or shutil.which("fd")
    results = []

    print(f"# Zelvane benchmarks on {platform.node()}: {os.cpu_count()} cores, {platform.machine()},"
          f" {platform.platform()}, rounds {args.rounds}")
    work = tempfile.mkdtemp(prefix="zelvane-bench-")
    try:
        sizes = [(2000, 10)] if args.quick else [(20000, 10), (100000, 10)]
        if groups & {"walk", "specs"}:
            for directories, per in sizes:
                root = os.path.join(work, f"tree{directories}")
                make_tree(root, directories, per)
                n = count_files(root)
                if "walk" in groups:
                    cmds = {"zelvane": [zelvane, "*.c", "-s", "-n", "echo", "$f"],
                            "find": ["find", ".", "-iname", "*.c"]}
                    if fd:
                        # Each on its default threads (one per processor), and fd on one for reference.
                        cmds["fd"] = [fd, "-HI", "-e", "c"]
                        cmds["fd-j1"] = [fd, "-HI", "-j1", "-e", "c"]
                    compare(f"Walk and print: {n} files in {directories} directories", cmds, root, args.rounds, results)
                    cmds = {"zelvane": [zelvane, "*", "-s", "-n", "echo", "$f"]}
                    if fd:
                        cmds["fd"] = [fd, "-HI", "."]
                    compare(f"Every entry a match: {n} files in {directories} directories", cmds, root, args.rounds,
                            results)
                    # The walk alone against the least a walk costs (open, getdents64, close on every
                    # processor, bench/min_walk.cpp), when it is built.
                    cmds = {"zelvane": [zelvane, "*.none", "-s", "-n", "echo", "$f"]}
                    if os.path.exists(min_walk):
                        cmds["limit"] = [min_walk, "."]
                    if fd:
                        cmds["fd"] = [fd, "-HI", "-e", "none"]
                    compare(f"The walk alone, nothing matching: {n} files in {directories} directories", cmds, root,
                            args.rounds, results)
                if "specs" in groups and directories == sizes[0][0]:
                    compare(f"Several specs and an Xspec: {n} files",
                            {"zelvane": [zelvane, "*.c *.h", "-s", "-x*.o", "-n", "echo", "$f"],
                             "find": ["find", ".", "(", "-iname", "*.c", "-o", "-iname", "*.h", ")"]},
                            root, args.rounds, results)
                shutil.rmtree(root)

        if "exec" in groups:
            root = os.path.join(work, "exec")
            count = 500 if args.quick else 5000
            empty_files(root, count)
            busy = busy_processes(args.load)
            if busy:
                print(f"\n(exec group with {args.load} busy processes beside it)")
            cmds = {"zelvane": [zelvane, "*.txt", "-n", "/bin/true", "$f"],
                    "find": ["find", ".", "-name", "*.txt", "-exec", "/bin/true", "{}", ";"]}
            if fd:
                cmds["fd"] = [fd, "-j1", "-e", "txt", "-x", "/bin/true"]
            compare(f"One process per file, one at a time: {count} files", cmds, root, args.rounds, results)
            # Every processor: Zelvane's -Jobs:0 and fd's default, one thread per processor.
            cmds = {"zelvane": [zelvane, "*.txt", "-n", "-Jobs:0", "/bin/true", "$f"]}
            if fd:
                cmds["fd"] = [fd, "-e", "txt", "-x", "/bin/true"]
            compare(f"One process per file, {os.cpu_count()} at once: {count} files", cmds, root, args.rounds,
                    results)
            for process in busy:
                process.kill()
                process.wait()
            shutil.rmtree(root)

        if "gather" in groups:
            # Many files to one command: the run builds command lines as long as the system takes.
            root = os.path.join(work, "gather")
            count = 10000 if args.quick else 100000
            empty_files(root, count)
            cmds = {"zelvane": [zelvane, "*.txt", "-n", "-Gather", "/bin/true", "$f"],
                    "find": ["find", ".", "-name", "*.txt", "-exec", "/bin/true", "{}", "+"]}
            if fd:
                cmds["fd"] = [fd, "-e", "txt", "-X", "/bin/true"]
            cmds["zelvane-j0"] = [zelvane, "*.txt", "-n", "-Jobs:0", "-Gather", "/bin/true", "$f"]
            compare(f"Many files to one command: {count} files", cmds, root, args.rounds, results)
            shutil.rmtree(root)

        if "log" in groups:
            # The cost of -Log: a line and a status call per file, against the commands it records.
            root = os.path.join(work, "log")
            count = 10000 if args.quick else 100000
            empty_files(root, count, per_directory=1000)
            log = os.path.join(work, "run.log")
            run_one = ["-n", "-Jobs:0", "/bin/true", "$f"]
            compare(f"-Log over {count} files, one process each, {os.cpu_count()} at once",
                    {"zelvane": [zelvane, "*.txt", "-s", *run_one],
                     "with-log": [zelvane, "*.txt", "-s", f"-Log:{log}", *run_one]}, root, args.rounds, results)
            echo = ["-n", "echo", "$f"]
            compare(f"-Log over {count} files, internal echo only (no process to weigh it against)",
                    {"zelvane": [zelvane, "*.txt", "-s", *echo],
                     "with-log": [zelvane, "*.txt", "-s", f"-Log:{log}", *echo]}, root, args.rounds, results)
            os.remove(log)
            shutil.rmtree(root)

        if "output" in groups:
            # Commands that print far more than any buffer: their blocks pass through the run in order
            # while its memory stays bounded.
            root = os.path.join(work, "output")
            files, mib = (4, 5) if args.quick else (8, 25)
            empty_files(root, files)
            dd = ["/bin/dd", "if=/dev/zero", f"bs={1 << 20}", f"count={mib}", "status=none"]
            cmds = {"zelvane": [zelvane, "*.txt", "-n", "-Jobs:0"] + dd}
            if fd:
                cmds["fd"] = [fd, "-e", "txt", "-x"] + dd
            compare(f"{files * mib} MiB of output, one process per file, {os.cpu_count()} at once", cmds, root,
                    args.rounds, results)
            out = subprocess.run(["/usr/bin/time", "-f", "%M", *cmds["zelvane"]], cwd=root,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            print(f"  zelvane peak resident memory: {int(out.stderr.strip().splitlines()[-1]) / 1024:.1f} MiB")
            shutil.rmtree(root)

        if "crc" in groups:
            root = os.path.join(work, "crc")
            os.makedirs(root)
            big = os.path.join(root, "big.bin")
            size_mib = 64 if args.quick else 512
            block = b"".join(b"line %06d of some text\r\n" % i for i in range(40000))
            with open(big, "wb") as f:
                written = 0
                while written < size_mib << 20:
                    f.write(block)
                    written += len(block)
            zlib_script = ("import sys, zlib\n"
                           "import glob\n"
                           "for name in sorted(glob.glob(sys.argv[2])):\n"
                           "    crc = 0\n"
                           "    with open(name, 'rb') as f:\n"
                           "        while True:\n"
                           "            b = f.read(1 << 20)\n"
                           "            if not b: break\n"
                           "            if sys.argv[1] == 'K': b = b.replace(b'\\r', b'').replace(b'\\n', b'')\n"
                           "            crc = zlib.crc32(b, crc)\n"
                           "    print(name, hex(crc))\n")
            script = os.path.join(work, "zcrc.py")
            with open(script, "w") as f:
                f.write(zlib_script)
            mib = os.path.getsize(big) / (1 << 20)
            for macro in ("k", "K"):
                # dd reading the cached file into nothing is the speed of reading it.
                m = compare(f"${macro} over one {mib:.0f} MiB file",
                            {"zelvane": [zelvane, "big.bin", "-n", "echo", "$" + macro],
                             "dd": ["dd", "if=big.bin", "of=/dev/null", "bs=1M", "status=none"],
                             "zlib": [sys.executable, script, macro, "big.bin"]},
                            root, args.rounds, results)
                print(f"  throughput: zelvane {mib / m['zelvane']:.0f} MiB/s, zlib {mib / m['zlib']:.0f} MiB/s")
            os.remove(big)
            small = os.path.join(root, "small")
            os.makedirs(small)
            count = 2000 if args.quick else 20000
            for k in range(count):
                with open(os.path.join(small, f"s{k:05d}.dat"), "wb") as f:
                    f.write(block[: 512 + (k * 37) % 4096])
            compare(f"$k over {count} small files",
                    {"zelvane": [zelvane, "*.dat", "-n", "echo", "$k"],
                     "zlib": [sys.executable, script, "k", "*.dat"]},
                    small, args.rounds, results)
            shutil.rmtree(root)

        if "scale" in groups:
            print("\n## Scale: time and peak memory as the tree doubles")
            steps = [(1250, 10), (2500, 10), (5000, 10)] if args.quick else \
                [(12500, 10), (25000, 10), (50000, 10), (100000, 10)]
            previous = None
            for directories, per in steps:
                root = os.path.join(work, f"scale{directories}")
                make_tree(root, directories, per)
                n = count_files(root)
                # Every file matches: the match list holds n entries.
                cmd = [zelvane, "*", "-s", "-n", "echo", "$f"]
                run(cmd, root)
                samples = [run(cmd, root) for _ in range(max(3, args.rounds // 2))]
                median = statistics.median(samples)
                growth = f"x{median / previous:.2f} for x2 matches" if previous else ""
                print(f"  {n:>8} matches: median {median:7.3f} s  {growth}")
                previous = median
                shutil.rmtree(root)
            # Peak memory needs its own process: ru_maxrss of children is a running maximum.
            root = os.path.join(work, "mem")
            make_tree(root, steps[-1][0], steps[-1][1])
            n = count_files(root)
            out = subprocess.run(["/usr/bin/time", "-f", "%M", zelvane, "*", "-s", "-n", "echo", "$f"],
                                 cwd=root, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            print(f"  peak resident memory at {n} matches: {int(out.stderr.strip().splitlines()[-1]) / 1024:.0f} MiB")
            shutil.rmtree(root)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
