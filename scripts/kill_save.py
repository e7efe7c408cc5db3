#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Kills saves at random moments and checks what they leave.

Each round puts the old content (a ~10 MB single-link document) in place,
starts `xmlutil set` on it, and sends SIGKILL at a random moment between the
end of loading and the end of the save. Afterwards the file must hold the old
or the new content, byte for byte, and nothing else may be in the folder.

    scripts/kill_save.py XMLUTIL FOLDER [ROUNDS]

FOLDER is where the file lives (a folder on the file system to test: ext4,
tmpfs, ...); a fresh subfolder is made in it and removed afterwards. Prints
one summary line; exits 1 when a file was torn.
"""
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def document(items):
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<Root>\n']
    for i in range(items):
        parts.append(f'  <Item id="{i}" kind="entry"><Name>name {i}</Name>'
                     f'<Text>{"text of the item " * 4}{i}</Text></Item>\n')
    parts.append('</Root>\n')
    return ''.join(parts).encode()


def timed(command):
    start = time.monotonic()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.monotonic() - start


def main():
    tool, base = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 200
    folder = tempfile.mkdtemp(prefix='kill-save.', dir=base)
    target = os.path.join(folder, 'doc.xml')
    old = document(70000)
    edit = [tool, 'set', target, '/Root/Item[1]/Name', 'changed']

    def put_old():
        with open(target, 'wb') as f:
            f.write(old)

    put_old()
    load_time = min(timed([tool, 'count', target, '/Root']) for _ in range(3))
    save_time = min(timed(edit) for _ in range(1))
    with open(target, 'rb') as f:
        new = f.read()
    put_old()
    save_time = min(save_time, timed(edit))
    with open(target, 'rb') as f:
        assert f.read() == new, 'the edit is not deterministic'

    outcomes = {'old': 0, 'new': 0, 'torn': 0}
    killed = leftovers = 0
    for _ in range(rounds):
        put_old()
        # Timings on a busy machine can come out inverted: the window is
        # between the two whichever is larger.
        delay = random.uniform(min(load_time, save_time) * 0.9, max(load_time, save_time))
        process = subprocess.Popen(edit, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(delay)
        if process.poll() is None:
            process.send_signal(signal.SIGKILL)
            killed += 1
        process.wait()
        with open(target, 'rb') as f:
            content = f.read()
        outcomes['old' if content == old else 'new' if content == new else 'torn'] += 1
        for name in os.listdir(folder):
            if name != 'doc.xml':
                leftovers += 1
                os.unlink(os.path.join(folder, name))
    shutil.rmtree(folder)
    fs = subprocess.run(['findmnt', '-n', '-o', 'FSTYPE', '-T', base], capture_output=True,
                        text=True).stdout.strip()
    print(f'{fs} ({base}): {rounds} rounds, {killed} killed before finishing, '
          f'{len(old) / 1e6:.1f} MB, load {load_time:.3f} s, load+save {save_time:.3f} s; '
          f'old {outcomes["old"]}, new {outcomes["new"]}, torn {outcomes["torn"]}, '
          f'leftover files {leftovers}')
    return 1 if outcomes['torn'] else 0


if __name__ == '__main__':
    sys.exit(main())
