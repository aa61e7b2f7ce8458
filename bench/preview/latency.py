"""Saves a small template and a small JSON context in each of the ways
editors save, 100 times each, and measures how long quenfold-template
--watch takes to have the new text in its output file. The output is polled
every 50 microseconds; each save writes a new value, so the output's text
tells which save it shows."""

import os
import statistics
import subprocess
import sys
import tempfile
import time

SAVES = 100
TIMEOUT = 10.0


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def in_place(path, text):
    # The same length each time, so nothing is left over from before
    with open(path, "r+") as f:
        f.write(text)


def atomic(path, text):
    write(path + ".tmp", text)
    os.rename(path + ".tmp", path)


def recreate(path, text):
    os.remove(path)
    write(path, text)


KINDS = [("in place", in_place), ("truncate and write", write),
         ("atomic rename", atomic), ("delete and create", recreate)]


def wait_for(path, expected):
    deadline = time.perf_counter() + TIMEOUT
    while time.perf_counter() < deadline:
        try:
            with open(path) as f:
                if f.read() == expected:
                    return time.perf_counter()
        except FileNotFoundError:
            pass
        time.sleep(0.00005)
    raise SystemExit(f"no render of {expected!r} within {TIMEOUT} s")


def main():
    tool = sys.argv[1]
    directory = tempfile.mkdtemp()
    paths = {"template": os.path.join(directory, "scene.txt"),
             "context": os.path.join(directory, "scene.json")}
    contents = {"template": "{} {{{{ value }}}}\n", "context": '{{"value": "{}"}}'}
    output = os.path.join(directory, "scene.out")
    # What each file says now: the output is the template's marker, then the
    # context's
    markers = {"template": "T000000", "context": "C000000"}
    for file, path in paths.items():
        write(path, contents[file].format(markers[file]))
    preview = subprocess.Popen([tool, "--watch", "-o", output, paths["template"], paths["context"]],
                               stderr=subprocess.PIPE, text=True)
    try:
        while "Watching" not in preview.stderr.readline():
            pass
        print("file      save                median ms  p90 ms  max ms")
        counter = 0
        for file in ("template", "context"):
            for name, save in KINDS:
                latencies = []
                for _ in range(SAVES):
                    counter += 1
                    markers[file] = f"{file[0].upper()}{counter:06}"
                    expected = f"{markers['template']} {markers['context']}\n"
                    start = time.perf_counter()
                    save(paths[file], contents[file].format(markers[file]))
                    latencies.append((wait_for(output, expected) - start)*1000.0)
                    # Apart from the next save by more than the quiet period
                    time.sleep(0.03)
                latencies.sort()
                print(f"{file:9} {name:19} {statistics.median(latencies):9.2f} "
                      f"{latencies[int(len(latencies)*0.9)]:7.2f} {latencies[-1]:7.2f}")
    finally:
        preview.terminate()
        preview.wait()
        for name in os.listdir(directory):
            os.remove(os.path.join(directory, name))
        os.rmdir(directory)


if __name__ == "__main__":
    main()
