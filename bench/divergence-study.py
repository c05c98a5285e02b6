#!/usr/bin/python3
"""Measures which Divergence makes the best plate, and how well `--divergence auto` picks it.

Makes small clips (320x180, 48 frames) of a known static background with objects moving over
it, some crossing quickly, one lingering for a given share of the clip, at several noise levels
(Gaussian sensor noise; H.264 encoded and decoded with FFmpeg at a few qualities) and at 8, 16
and 32 bits. Renders each with framemeld at `auto`, at a sweep of fixed Divergence values and
at the value each candidate rule would pick from the noise `auto` measured (with the Rating Range
`auto` chose; the fixed values with the plug-in's Rating Range of 1), and scores every
plate against the background: mean absolute error in levels of 255, and the share of pixels
with some channel more than 20 levels of 255 off. The per-channel temporal median of the same
frames is scored alongside.

With --ceiling it also renders every fixed Divergence of the sweep at each Rating Range of
CEILING_RATINGS and reports, per clip, the best the two sliders can do against the temporal
median: what no choice of Divergence and Rating Range reaches, no automatic choice can.

usage: bench/divergence-study.py [--build-dir build/ci] [--work build/divergence-study]
                                  [--only TEXT] [--ceiling]
Prints Markdown tables (copied into bench/README.md). Needs numpy (python3-numpy) and ffmpeg.
"""

import argparse
import concurrent.futures
import os
import re
import struct
import subprocess
import sys

import numpy as np

WIDTH, HEIGHT, FRAMES = 320, 180, 48
WRONG_LEVELS = 20.0  # of 255
SWEEP = [1, 2, 3, 4, 5, 6, 8, 10, 15]
FIXED_SHOWN = [2, 5, 10]
CEILING_RATINGS = [1, 2, 3, 4, 6]
# Candidate rules: tolerance = k x sigma + floor (levels of 255); the tool's are kAgreementSigmas
# and kAgreementFloorLevels.
CANDIDATE_RULES = [(k, floor) for k in (1.0, 2.0, 3.0, 4.0)
                   for floor in (0.0, 4.0, 6.0, 8.0, 10.0, 12.0, 16.0)]
TOOL_RULE = (2.0, 10.0)


def divergence_for_noise(sigma, bits, rule):
    """Mirror of divergenceForNoise() in cli/plan/AutoSettings.cpp."""
    k, floor = rule
    tolerance = min(1.0, k * max(0.0, sigma) + floor / 255.0)
    if bits == 8:
        return min(100.0, 1.0 + round(tolerance * 255.0))
    return max(0.01, round(tolerance * 100.0 * 100.0) / 100.0)


# ---- the clips -------------------------------------------------------------------------------

def background(rng):
    """A textured still: smooth colour gradients, fine texture, hard-edged tiles (which give the
    encoder something to get wrong)."""
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float64)
    img = np.empty((HEIGHT, WIDTH, 3))
    img[..., 0] = 0.35 + 0.25 * np.sin(x / 37.0) * np.cos(y / 23.0)
    img[..., 1] = 0.45 + 0.2 * np.cos((x + y) / 41.0)
    img[..., 2] = 0.3 + 0.25 * (x / WIDTH)
    img += 0.04 * np.sin(x / 2.3)[..., None] * np.sin(y / 3.1)[..., None]
    for _ in range(14):
        x0, y0 = rng.integers(0, WIDTH - 40), rng.integers(0, HEIGHT - 30)
        w, h = rng.integers(12, 40), rng.integers(10, 30)
        img[y0:y0 + h, x0:x0 + w] += rng.uniform(-0.15, 0.15, 3)
    return np.clip(img, 0.02, 0.98)


def ellipse(cx, cy, rx, ry):
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH]
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def scene(linger_share, rng):
    """Frames without noise (float, 0..1), the background and the share of frames in which each
    pixel shows it. A subtle lingerer (about 15 levels off the background behind it) stands
    still for `linger_share` of the clip; a high-contrast one for half that; a dozen objects
    cross, each in a few frames, together covering a fifth to a third of the frame at a time."""
    bg = background(rng)
    frames = np.repeat(bg[None], FRAMES, axis=0)
    covered = np.zeros((FRAMES, HEIGHT, WIDTH), bool)

    def paint(t, mask, colour):
        frames[t][mask] = colour[mask] if colour.ndim == 3 else colour
        covered[t] |= mask

    # Crossers: each passes once, at its own speed and height.
    for i in range(12):
        ry, rx = rng.integers(20, 40), rng.integers(10, 22)
        cy = rng.integers(ry, HEIGHT - ry)
        colour = rng.uniform(0.05, 0.95, 3)
        t0 = rng.integers(0, FRAMES * 2 // 3)
        speed = rng.uniform(10, 25) * (1 if i % 2 else -1)
        for t in range(t0, FRAMES):
            cx = (20 if speed > 0 else WIDTH - 20) + speed * (t - t0)
            if not -rx <= cx <= WIDTH + rx:
                break
            paint(t, ellipse(cx, cy, rx, ry), colour)
    # Lingerers: walk in fast, stand, walk out.
    for share, cx, offset in ((linger_share, 90, 15.0 / 255), (linger_share / 2, 230, 0.35)):
        stay = int(round(share * FRAMES))
        t0 = (FRAMES - stay) // 2
        mask = ellipse(cx, 95, 14, 34)
        signs = np.where(rng.uniform(size=3) < 0.5, -1.0, 1.0)
        colour = np.clip(bg + signs * offset, 0, 1)
        for t in range(t0, t0 + stay):
            paint(t, mask, colour)
        for step, t in enumerate(range(t0 - 3, t0)):
            if t >= 0:
                paint(t, ellipse(cx - 60 + 20 * step, 95, 14, 34), colour)
    visible = 1.0 - covered.mean(axis=0)
    return frames, bg, visible


def write_pnm(path, img, bits):
    """8- and 16-bit PPM, or PFM for float."""
    if bits == 32:
        data = np.ascontiguousarray(img[::-1].astype('<f4'))
        with open(path, 'wb') as f:
            f.write(b'PF\n%d %d\n-1.0\n' % (WIDTH, HEIGHT) + data.tobytes())
        return
    top = 255 if bits == 8 else 65535
    data = np.clip(np.round(img * top), 0, top).astype('u1' if bits == 8 else '>u2')
    with open(path, 'wb') as f:
        f.write(b'P6\n%d %d\n%d\n' % (WIDTH, HEIGHT, top) + data.tobytes())


def read_pnm(path):
    """Float 0..1 image from what write_pnm or FFmpeg write."""
    with open(path, 'rb') as f:
        raw = f.read()
    tokens = re.match(rb'(P[6F])\s+(\d+)\s+(\d+)\s+(\S+)\s', raw)
    kind, w, h, top = tokens.group(1), int(tokens.group(2)), int(tokens.group(3)), tokens.group(4)
    body = raw[tokens.end():]
    if kind == b'PF':
        order = '<f4' if float(top) < 0 else '>f4'
        return np.frombuffer(body, order, w * h * 3).reshape(h, w, 3)[::-1].astype(np.float64)
    top = int(top)
    dtype = 'u1' if top < 256 else '>u2'
    return np.frombuffer(body, dtype, w * h * 3).reshape(h, w, 3).astype(np.float64) / top


def make_clip(folder, frames, bits, noise, crf, rng):
    os.makedirs(folder, exist_ok=True)
    noisy = frames + rng.normal(0.0, noise / 255.0, frames.shape) if noise else frames
    if crf is None:
        for t, img in enumerate(noisy):
            write_pnm(f'{folder}/f{t:03d}.{"pfm" if bits == 32 else "ppm"}', img, bits)
        return
    # Compressed: the noisy 8-bit frames through H.264 and back to 8-bit frames.
    raw = np.clip(np.round(noisy * 255), 0, 255).astype('u1').tobytes()
    subprocess.run(['ffmpeg', '-loglevel', 'error', '-y', '-f', 'rawvideo', '-pix_fmt', 'rgb24',
                    '-s', f'{WIDTH}x{HEIGHT}', '-r', '25', '-i', '-', '-c:v', 'libx264',
                    '-preset', 'medium', '-crf', str(crf), '-pix_fmt', 'yuv420p',
                    f'{folder}/clip.mp4'], input=raw, check=True)
    subprocess.run(['ffmpeg', '-loglevel', 'error', '-y', '-i', f'{folder}/clip.mp4',
                    '-start_number', '0', f'{folder}/f%03d.ppm'], check=True)
    os.remove(f'{folder}/clip.mp4')


# ---- renders and scores ----------------------------------------------------------------------

def render(tool, clip, bits, divergence, rating_range=None):
    """The plate (float, 0..1) and the tool's summary. Plates go through PNG (16-bit for 16- and
    32-bit renders, finer than any score needs); FFmpeg unpacks it."""
    plate = f'{clip["folder"]}/plate.png'
    args = [tool, f'{clip["folder"]}/{clip["pattern"]}', '-o', plate, '--depth', str(bits),
            '--threads', '1', '--divergence', divergence]
    if rating_range is not None:
        args += ['--rating-range', rating_range]
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f'divergence-study: {" ".join(args)} failed:\n{done.stderr}')
    # Unpacked at the plate's own depth: FFmpeg widens 8 bits to 16 by a shift, not by 257.
    wide = bits != 8
    raw = subprocess.run(['ffmpeg', '-loglevel', 'error', '-i', plate, '-f', 'rawvideo',
                          '-pix_fmt', 'rgb48le' if wide else 'rgb24', '-'],
                         capture_output=True, check=True).stdout
    os.remove(plate)
    pixels = np.frombuffer(raw, '<u2' if wide else 'u1').reshape(HEIGHT, WIDTH, 3)
    return pixels.astype(np.float64) / (65535.0 if wide else 255.0), done.stderr


def score(plate, clip):
    error = np.abs(plate - clip['bg']) * 255.0
    return error.mean(), (error.max(axis=2) > WRONG_LEVELS).mean() * 100.0


def study_clip(tool, clip, divergences, ceiling=False):
    """Scores of `auto` and of every Divergence in `divergences`; the noise `auto` measured. With
    `ceiling`, also every Divergence at every Rating Range of CEILING_RATINGS."""
    plate, summary = render(tool, clip, clip['bits'], 'auto')
    match = re.search(r'divergence (\S+) \(auto: temporal noise (\S+) levels of 255\), '
                      r'rating range (\S+) \(auto\)', summary)
    chosen, sigma, rating = float(match.group(1)), float(match.group(2)) / 255.0, match.group(3)
    result = {'auto': score(plate, clip), 'auto_d': chosen, 'auto_r': float(rating),
              'sigma': sigma, 'fixed': {}, 'rules': {}}
    for d in divergences:
        result['fixed'][d] = score(render(tool, clip, clip['bits'], f'{d:g}')[0], clip)
    result['settings'] = {(d, 1): result['fixed'][d] for d in divergences}
    if ceiling:
        for rating_range in CEILING_RATINGS[1:]:
            for d in divergences:
                result['settings'][(d, rating_range)] = score(
                    render(tool, clip, clip['bits'], f'{d:g}', f'{rating_range:g}')[0], clip)
    for d in sorted({divergence_for_noise(sigma, clip['bits'], rule) for rule in CANDIDATE_RULES}):
        result['rules'][d] = score(render(tool, clip, clip['bits'], f'{d:g}', rating)[0], clip)
    frames = np.stack([read_pnm(f'{clip["folder"]}/{name}')
                       for name in sorted(os.listdir(clip['folder'])) if name.startswith('f')])
    result['median'] = score(np.median(frames, axis=0), clip)
    print(f'divergence-study: {clip["name"]}: sigma {sigma * 255:.2f} levels, auto {chosen:g}, '
          f'rating range {rating}',
          file=sys.stderr, flush=True)
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build-dir', default='build/ci')
    parser.add_argument('--work', default='build/divergence-study')
    parser.add_argument('--ceiling', action='store_true',
                        help='also sweep the Rating Range and report the best the sliders can do')
    parser.add_argument('--only', default='',
                        help='study only the clips whose name has this text, or one of several '
                        '(A|B); all clips are still made, so each has the same noise as in a full '
                        'run')
    args = parser.parse_args()
    tool = os.path.abspath(f'{args.build_dir}/cli/framemeld')

    rng = np.random.default_rng(20261208)
    clips = []
    for linger in (0.3, 0.45, 0.6):
        frames, bg, visible = scene(linger, rng)
        conditions = [('clean', 0, None), ('gauss 1', 1, None), ('gauss 2.5', 2.5, None),
                      ('gauss 5', 5, None), ('h264 crf 18', 1, 18), ('h264 crf 26', 1, 26),
                      ('h264 crf 34', 1, 34)]
        for name, noise, crf in conditions:
            for bits in (8, 16, 32):
                if crf is not None and bits == 16:
                    continue  # 8-bit footage: rendered as it is and converted to float
                folder = os.path.abspath(
                    f'{args.work}/linger{int(linger * 100)}-{name.replace(" ", "")}-{bits}')
                source_bits = 8 if crf is not None else bits
                make_clip(folder, frames, source_bits, noise, crf, rng)
                clips.append({'folder': folder, 'bg': bg, 'bits': bits,
                              'pattern': 'f%03d.' + ('pfm' if source_bits == 32 else 'ppm'),
                              'name': f'linger {int(linger * 100)} %, {name}, {bits}-bit',
                              'visible': visible.min(), 'linger': linger})
    clips = [c for c in clips if any(part in c['name'] for part in args.only.split('|'))]
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = list(pool.map(lambda c: study_clip(tool, c, SWEEP, args.ceiling), clips))
    report(clips, results)
    if args.ceiling:
        report_ceiling(clips, results)


def against_median(clips, results, scores):
    """How `scores` (one per clip) fare against the temporal median on both measures, at the
    precision the tables print, over the clips whose background shows in at least half of the
    frames: what auto is meant to beat."""
    tally = {'better': 0, 'level': 0, 'worse': 0}
    for c, r, s in zip(clips, results, scores):
        if c['linger'] > 0.5:
            continue
        a = tuple(round(v, 2) for v in s)
        m = tuple(round(v, 2) for v in r['median'])
        if a == m:
            tally['level'] += 1
        elif a[0] <= m[0] and a[1] <= m[1]:
            tally['better'] += 1
        else:
            tally['worse'] += 1
    return tally


def report(clips, results):
    print('### Candidate rules (tolerance = k x sigma + floor), mean over all clips\n')
    print('Against the median: on the clips with the background visible in at least half of the '
          'frames, better / level / worse on both measures.\n')
    print('| rule | mean error (levels) | pixels > 20 levels (%) | against the median |')
    print('|---|---:|---:|---:|')
    for rule in CANDIDATE_RULES:
        scores = [r['rules'][divergence_for_noise(r['sigma'], c['bits'], rule)]
                  for c, r in zip(clips, results)]
        tally = against_median(clips, results, scores)
        mark = ' (the tool)' if rule == TOOL_RULE else ''
        print(f'| k = {rule[0]:g}, floor {rule[1]:g} levels{mark} | '
              f'{np.mean([s[0] for s in scores]):.3f} | {np.mean([s[1] for s in scores]):.3f} | '
              f'{tally["better"]} / {tally["level"]} / {tally["worse"]} |')
    for d in SWEEP:
        scores = [r['fixed'][d] for r in results]
        print(f'| fixed {d:g} | {np.mean([s[0] for s in scores]):.3f} | '
              f'{np.mean([s[1] for s in scores]):.3f} |')
    scores = [r['median'] for r in results]
    print(f'| temporal median | {np.mean([s[0] for s in scores]):.3f} | '
          f'{np.mean([s[1] for s in scores]):.3f} |')

    print('\n### Per clip: mean error in levels of 255 / share of pixels > 20 levels off (%)\n')
    print('| clip | bg visible (min) | noise sigma (levels) | auto D, R | auto | fixed 2 | fixed 5 '
          '| fixed 10 | best fixed (D) | temporal median |')
    print('|---|---:|---:|---:|---|---|---|---|---|---|')
    for c, r in zip(clips, results):
        def cell(s):
            return f'{s[0]:.2f} / {s[1]:.2f}'
        best = min(SWEEP, key=lambda d: r['fixed'][d][0])
        print(f'| {c["name"]} | {c["visible"] * 100:.0f} % | {r["sigma"] * 255:.2f} | '
              f'{r["auto_d"]:g}, {r["auto_r"]:g} | {cell(r["auto"])} | '
              + ' | '.join(cell(r['fixed'][d]) for d in FIXED_SHOWN)
              + f' | {cell(r["fixed"][best])} ({best:g}) | {cell(r["median"])} |')

    # The target: auto better than the median on both measures where the background shows in at
    # least half of the frames.
    tally = against_median(clips, results, [r['auto'] for r in results])
    print(f'\nBackground visible in at least half of the frames: auto better than the temporal '
          f'median on {tally["better"]}, level on {tally["level"]}, worse on {tally["worse"]}.')



def report_ceiling(clips, results):
    """Per clip: the setting of both sliders with the least mean error, and whether any setting
    beats the temporal median on both measures (at the precision the tables print)."""
    print('\n### What the sliders can reach: best Divergence and Rating Range per clip\n')
    print('| clip | bg visible (min) | auto | best setting (D, R) on mean error | '
          'temporal median | some setting better than the median on both |')
    print('|---|---:|---|---|---|---|')
    unreachable = 0
    for c, r in zip(clips, results):
        def cell(s):
            return f'{s[0]:.2f} / {s[1]:.2f}'
        best = min(r['settings'], key=lambda k: r['settings'][k])
        median = tuple(round(v, 2) for v in r['median'])
        beats = [k for k, v in r['settings'].items()
                 if tuple(round(x, 2) for x in v) != median
                 and round(v[0], 2) <= median[0] and round(v[1], 2) <= median[1]]
        if not beats and c['linger'] <= 0.5:
            unreachable += 1
        print(f'| {c["name"]} | {c["visible"] * 100:.0f} % | {cell(r["auto"])} | '
              f'{cell(r["settings"][best])} ({best[0]:g}, {best[1]:g}) | {cell(r["median"])} | '
              + (f'yes ({len(beats)} of {len(r["settings"])})' if beats else 'no') + ' |')
    print(f'\nBackground visible in at least half of the frames: on {unreachable} clips no '
          f'setting of the two sliders is better than the temporal median on both measures.')

if __name__ == '__main__':
    main()
