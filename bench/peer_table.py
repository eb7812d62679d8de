#!/usr/bin/env python3
"""The README's table against the peer renderer: each configuration of frame_bench against the
peer's demo scene at the same sample count (the main pass at the supersampled size, the
1024 x 1024 shadow pass, both with 2 threads), interleaved round by round so that a busy
machine slows both sides alike.

usage: bench/peer_table.py PEER_BENCH [--build DIR] [--data DIR] [--rounds N] [--frames N]
PEER_BENCH is the peer harness built by its `compare` script (it keeps it in
~/.cache/krv-peer-llvmpipe/llvmpipe_bench). Prints one line a run, then a Markdown table:
configuration, samples, the two medians and their ratio (ours / peer; lower is better).
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import sys

# (label, frame_bench options, main-pass samples)
CONFIGS = [
    ('SPEED, AA off', ['--mode', 'SPEED', '--aa', 'off'], (533, 400)),
    ('SPEED, AA 4x (the default)', ['--mode', 'SPEED', '--aa', '4x'], (1066, 800)),
    ('NORMAL, AA 4x', ['--mode', 'NORMAL', '--aa', '4x'], (1600, 1200)),
    ('SPEED, AA 16x', ['--mode', 'SPEED', '--aa', '16x'], (2132, 1600)),
    ('`--size 1920x1080` NORMAL, AA 4x', ['--size', '1920x1080', '--mode', 'NORMAL', '--aa', '4x'],
     (3840, 2160)),
]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('peer')
    ap.add_argument('--build', default='build')
    ap.add_argument('--data', default='data')
    ap.add_argument('--rounds', type=int, default=3)
    ap.add_argument('--frames', type=int, default=30)
    a = ap.parse_args()
    ours = os.path.join(a.build, 'frame_bench')
    data = os.path.abspath(a.data)
    # The peer's demo placement and light, as its compare script runs it for the default row.
    peer = [a.peer, '--demo', data, '--shadow-cull', 'front', '--bias', '0', '--spin', '0.1875',
            '--angle0', '0.1875', '--warmup', '2', '--frames', str(a.frames), '--threads', '2']
    times = {label: ([], []) for label, _, _ in CONFIGS}
    for r in range(a.rounds):
        for label, options, (w, h) in CONFIGS:
            p = subprocess.run([ours, '--data', data, '--threads', '2', '--frames', str(a.frames)]
                               + options, capture_output=True, text=True)
            m = re.search(r'\| frame +([0-9.]+)', p.stdout)
            if p.returncode != 0 or not m:
                sys.exit(f'frame_bench failed on {label}: {p.stderr.strip()[-300:]}')
            q = subprocess.run(peer + ['--width', str(w), '--height', str(h)],
                               capture_output=True, text=True)
            if q.returncode != 0:
                sys.exit(f'the peer failed on {label}: {q.stderr.strip()[-300:]}')
            theirs = json.loads(q.stdout.strip().splitlines()[-1])['median_ms']
            times[label][0].append(float(m.group(1)))
            times[label][1].append(theirs)
            print(f'round {r} {label:34s} ours {float(m.group(1)):8.2f} ms  peer {theirs:8.2f} ms'
                  f'  load {os.getloadavg()[0]:.2f}', flush=True)
    print()
    print('| configuration | samples | ours (ms) | peer, 2 threads (ms) | ratio |')
    print('|---|---|---|---|---|')
    for label, _, (w, h) in CONFIGS:
        o, t = (statistics.median(v) for v in times[label])
        print(f'| {label} | {w}x{h} | {o:.2f} | {t:.2f} | {o / t:.2f} |')


if __name__ == '__main__':
    main()
