#!/usr/bin/python3
"""Measures which Divergence makes the best plate, and how well `--divergence auto` picks it.

Makes small clips (320x180, 48 frames) of a known static background with objects moving over
it, some crossing quickly, two lingering for a given share of the clip (standing still, or
swaying by a few levels and shifting their weight by a pixel or two), at several noise levels
(Gaussian sensor noise; H.264 encoded and decoded with FFmpeg at a few qualities) and at 8, 16
and 32 bits. Renders each with framemeld at `auto`, at a sweep of fixed Divergence values and
at the value each candidate rule would pick from the noise `auto` measured (with the Rating Range
`auto` chose, or with 1 where the rule says so; the fixed values with the plug-in's Rating Range
of 1), and scores every
plate against the background: mean absolute error in levels of 255, and the share of pixels
with some channel more than 20 levels of 255 off. The per-channel temporal median of the same
frames is scored alongside.

The clips come in two sets. The fitting set is what the candidate rules are ranked on. The
held-out set (another background and other crossers, lingerers staying 35 and 65 % of the clip,
Gaussian noise of 1.5 and 4 levels and H.264 at CRF 22 and 30, none of which the fitting set
has) is scored only at the end, with the tool's own rule.

With --ceiling it also renders every fixed Divergence of the sweep at each Rating Range of
CEILING_RATINGS and reports, per clip, the best the two sliders can do against the temporal
median: what no choice of Divergence and Rating Range reaches, no automatic choice can.

With --every-table it renders OpenCV's vtest.avi at every 1st to 16th frame and reports the
noise and Divergence `auto` picks for each. With --holes-table it renders the background alone
behind holdout mattes that leave each pixel visible in only a few frames, and reports the holes
each tolerance leaves. With --linear it studies scene-linear float footage
(a dark background, a darker object) as it is and through a log encoding centred on mid grey.
With --space-table it renders three scene-linear clips through each candidate curve for the
log working space (the tool's, other slopes, ACEScct's, a power law) and scores ghosts and bias.

usage: bench/divergence-study.py [--build-dir build/ci] [--work build/divergence-study]
                                  [--only TEXT] [--ceiling] [--every-table] [--holes-table]
                                  [--linear] [--space-table]
Prints Markdown tables (copied into bench/README.md). Needs numpy (python3-numpy) and ffmpeg.
"""

import argparse
import concurrent.futures
import json
import os
import pickle
import re
import struct
import subprocess
import sys
import zlib

import numpy as np

WIDTH, HEIGHT, FRAMES = 320, 180, 48
WRONG_LEVELS = 20.0  # of 255
SWEEP = [1, 2, 3, 5, 8, 12]
# At 16 and 32 bits Divergence 1 is already 2.55 levels: finer values for clean footage there.
FINE_SWEEP = [0.5]
FIXED_SHOWN = [2, 5, 12]
CEILING_RATINGS = [1, 2, 3, 4, 6]
# Candidate rules, by render depth: tolerance = k x sigma + floor (levels of 255), at a Rating
# Range (None: the one `auto` chose). The tool's are kToleranceSigmas (kToleranceSigmas8Bit at 8
# bits), kToleranceFloorLevels and ratingRangeFor() (cli/plan/AutoSettings.h).
def by_depth(eight, wide):
    return {8: eight, 16: wide, 32: wide}


CANDIDATE_RULES = ([by_depth((k, floor, None), (k, floor, None))
                    for k in (2.0, 3.0, 4.0, 5.0) for floor in (0.0, 1.0, 2.0, 4.0)]
                   + [by_depth((k8, 0.0, r8), (k, 0.0, r))
                      for k8 in (0.5, 1.0, 1.5, 2.0, 3.0) for r8 in (None, 1.0)
                      for k in (3.0, 4.0, 4.5, 5.0, 6.0) for r in (None, 1.0)])
TOOL_RULE = by_depth((2.0, 0.0, None), (5.0, 0.0, None))
# auto's mean error counts as level with the best fixed Divergence within this share, or within
# the tables' precision (0.01 levels) on clips that are all but perfect.
WITHIN_BEST = 0.15


def divergence_for_noise(sigma, bits, rule):
    """Mirror of automaticDivergence() in cli/plan/AutoSettings.cpp, for `rule`'s (k, floor, _)
    at `bits`."""
    k, floor = rule[bits][:2]
    tolerance = min(1.0, k * max(0.0, sigma) + floor / 255.0)
    if bits == 8:
        return min(100.0, 1.0 + round(tolerance * 255.0))
    return min(100.0, max(0.01, round(tolerance * 100.0 * 100.0) / 100.0))


# How many of the units the report gives the noise in make full scale (its `noise_units`).
UNITS_PER_FULL_SCALE = {'levels of 255': 255.0, 'stops': 16.0, 'linear': 1.0, 'code values': 1.0}


def noise_full_scale(report):
    """The noise `auto` measured, in full scale of the values the consensus compared."""
    settings = report['settings']
    return settings['temporal_noise'] / UNITS_PER_FULL_SCALE[settings['noise_units']]


def sweep_for(bits):
    return SWEEP if bits == 8 else FINE_SWEEP + SWEEP


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


def scene(linger_share, rng, sway=0.0):
    """Frames without noise (float, 0..1), the background and the share of frames in which each
    pixel shows it. A subtle lingerer (about 15 levels off the background behind it) stays for
    `linger_share` of the clip; a high-contrast one for half that; a dozen objects cross, each in
    a few frames, together covering a fifth to a third of the frame at a time. With `sway` the
    lingerers are people standing, not statues: each pixel of them wanders by up to `sway`
    levels of 255 over the stay (breathing; a slow wave across the body plus a level of
    flicker), and the body shifts its weight by up to two pixels sideways."""
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
    yy, xx = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float64)
    for share, cx, offset in ((linger_share, 90, 15.0 / 255), (linger_share / 2, 230, 0.35)):
        stay = int(round(share * FRAMES))
        t0 = (FRAMES - stay) // 2
        signs = np.where(rng.uniform(size=3) < 0.5, -1.0, 1.0)
        colour = np.clip(bg + signs * offset, 0, 1)
        phase = rng.uniform(0, 2 * np.pi)
        for t in range(t0, t0 + stay):
            if sway:
                shift = int(round(2.0 * np.sin(2 * np.pi * t / 17.0 + phase)))
                wave = np.sin(2 * np.pi * t / 11.0 + phase + yy / 9.0 + xx / 13.0)
                wander = (sway - 1.0) * wave[..., None] + rng.uniform(-1, 1, (HEIGHT, WIDTH, 3))
                paint(t, ellipse(cx + shift, 95, 14, 34), np.clip(colour + wander / 255.0, 0, 1))
            else:
                paint(t, ellipse(cx, 95, 14, 34), colour)
        for step, t in enumerate(range(t0 - 3, t0)):
            if t >= 0:
                paint(t, ellipse(cx - 60 + 20 * step, 95, 14, 34), colour)
    visible = 1.0 - covered.mean(axis=0)
    return frames, bg, visible


def write_png(path, img, bits, grey=False):
    """8- or 16-bit RGB PNG (grey: one channel): the tool reads these with its own codec, far
    faster than PPM."""
    top = 255 if bits == 8 else 65535
    data = np.clip(np.round(img * top), 0, top).astype('u1' if bits == 8 else '>u2')
    rows = b''.join(b'\0' + data[y].tobytes() for y in range(HEIGHT))

    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body
                + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff))
    header = struct.pack('>IIBBBBB', WIDTH, HEIGHT, bits, 0 if grey else 2, 0, 0, 0)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(rows, 1))
                + chunk(b'IEND', b''))


def write_pfm(path, img):
    data = np.ascontiguousarray(img[::-1].astype('<f4'))
    with open(path, 'wb') as f:
        f.write(b'PF\n%d %d\n-1.0\n' % (img.shape[1], img.shape[0]) + data.tobytes())


def read_pfm(path):
    with open(path, 'rb') as f:
        raw = f.read()
    tokens = re.match(rb'PF\s+(\d+)\s+(\d+)\s+(\S+)\s', raw)
    w, h, top = int(tokens.group(1)), int(tokens.group(2)), float(tokens.group(3))
    body = raw[tokens.end():]
    return np.frombuffer(body, '<f4' if top < 0 else '>f4', w * h * 3).reshape(h, w, 3)[::-1]


def decode_frames(path, bits=8):
    """Every frame of a movie as float 0..1, at 8 bits."""
    raw = subprocess.run(['ffmpeg', '-loglevel', 'error', '-i', path, '-f', 'rawvideo',
                          '-pix_fmt', 'rgb24', '-'], capture_output=True, check=True).stdout
    return np.frombuffer(raw, 'u1').reshape(-1, HEIGHT, WIDTH, 3).astype(np.float64) / 255.0


def encode_h264(noisy, crf, path):
    raw = np.clip(np.round(noisy * 255), 0, 255).astype('u1').tobytes()
    subprocess.run(['ffmpeg', '-loglevel', 'error', '-y', '-f', 'rawvideo', '-pix_fmt', 'rgb24',
                    '-s', f'{WIDTH}x{HEIGHT}', '-r', '25', '-i', '-', '-c:v', 'libx264',
                    '-preset', 'medium', '-crf', str(crf), '-pix_fmt', 'yuv420p', path],
                   input=raw, check=True)


def make_clip(folder, frames, bits, noise, crf, rng):
    """Writes the frames the tool reads and returns them as it will read them (float 0..1)."""
    os.makedirs(folder, exist_ok=True)
    noisy = frames + rng.normal(0.0, noise / 255.0, frames.shape) if noise else frames
    if crf is not None:
        # Compressed: the noisy 8-bit frames through H.264 and back to 8-bit frames.
        encode_h264(noisy, crf, f'{folder}/clip.mp4')
        noisy = decode_frames(f'{folder}/clip.mp4')
        os.remove(f'{folder}/clip.mp4')
        bits = 8
    if bits == 32:
        stored = noisy.astype(np.float32).astype(np.float64)
        for t, img in enumerate(stored):
            write_pfm(f'{folder}/f{t:03d}.pfm', img)
        return stored
    top = 255 if bits == 8 else 65535
    stored = np.clip(np.round(noisy * top), 0, top) / top
    for t, img in enumerate(stored):
        write_png(f'{folder}/f{t:03d}.png', img, bits)
    return stored


# ---- renders and scores ----------------------------------------------------------------------

def render(tool, clip, bits, divergence, rating_range=None, extra=(), alpha=False):
    """The plate (float, 0..1; with `alpha`, RGBA) and the tool's JSON report, rendered with the
    `extra` arguments too. Plates go through PNG (16-bit for 16- and 32-bit renders, finer than
    any score needs); FFmpeg unpacks it."""
    plate = f'{clip["folder"]}/plate-{os.getpid()}-{divergence}-{rating_range}.png'
    args = [tool, f'{clip["folder"]}/{clip["pattern"]}', '-o', plate, '--depth', str(bits),
            '--threads', '1', '--divergence', divergence, '--json', '-q']
    if rating_range is not None:
        args += ['--rating-range', rating_range]
    args += list(extra)
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f'divergence-study: {" ".join(args)} failed:\n{done.stderr}')
    report = json.loads(done.stdout)
    # Unpacked at the plate's own depth: FFmpeg widens 8 bits to 16 by a shift, not by 257.
    wide = bits != 8
    pix_fmt = ('rgba64le' if wide else 'rgba') if alpha else ('rgb48le' if wide else 'rgb24')
    raw = subprocess.run(['ffmpeg', '-loglevel', 'error', '-i', plate, '-f', 'rawvideo',
                          '-pix_fmt', pix_fmt, '-'],
                         capture_output=True, check=True).stdout
    os.remove(plate)
    pixels = np.frombuffer(raw, '<u2' if wide else 'u1').reshape(HEIGHT, WIDTH, 4 if alpha else 3)
    return pixels.astype(np.float64) / (65535.0 if wide else 255.0), report


def score(plate, clip):
    error = np.abs(plate - clip['bg']) * 255.0
    return error.mean(), (error.max(axis=2) > WRONG_LEVELS).mean() * 100.0


def rating_for(rule, bits, auto_rating):
    """The Rating Range `rule` renders with at `bits`, where `auto` chose `auto_rating`."""
    rating = rule[bits][2]
    return auto_rating if rating is None else rating


def study_clip(tool, clip, ceiling=False):
    """Scores of `auto` and of every Divergence of the sweep; the noise `auto` measured. With
    `ceiling`, also every Divergence at every Rating Range of CEILING_RATINGS."""
    plate, report = render(tool, clip, clip['bits'], 'auto')
    chosen = report['settings']['Divergence']
    rating = report['settings']['Rating Range']
    sigma = noise_full_scale(report)
    # tool_r: what the tool's ratingRangeFor() gave; auto_r: what the rule scored gives.
    result = {'auto': score(plate, clip), 'auto_d': chosen, 'auto_r': float(rating),
              'tool_r': float(rating),
              'sigma': sigma, 'fixed': {}, 'rules': {}}
    divergences = sweep_for(clip['bits'])
    for d in divergences:
        result['fixed'][d] = score(render(tool, clip, clip['bits'], f'{d:g}')[0], clip)
    result['settings'] = {(d, 1): result['fixed'][d] for d in divergences}
    if ceiling:
        for rating_range in CEILING_RATINGS[1:]:
            for d in divergences:
                result['settings'][(d, rating_range)] = score(
                    render(tool, clip, clip['bits'], f'{d:g}', f'{rating_range:g}')[0], clip)
    # Every candidate's plate, keyed (Divergence, Rating Range); at Rating Range 1 the sweep's
    # plates serve where they are the same setting.
    for rule in CANDIDATE_RULES:
        d = divergence_for_noise(sigma, clip['bits'], rule)
        key = (d, rating_for(rule, clip['bits'], float(rating)))
        if key in result['rules']:
            continue
        if key[1] == 1.0 and d in result['fixed']:
            result['rules'][key] = result['fixed'][d]
        else:
            result['rules'][key] = score(
                render(tool, clip, clip['bits'], f'{d:g}', f'{key[1]:g}')[0], clip)
    result['median'] = clip['median']
    print(f'divergence-study: {clip["name"]}: sigma {sigma * 255:.2f} levels, auto {chosen:g}, '
          f'rating range {rating}', file=sys.stderr, flush=True)
    return result


def clip_set(work, seed, scenes, conditions, tag, depths=(8, 32)):
    """Clips of `scenes` (linger share, sway levels) under each of `conditions` at each of
    `depths` (H.264 footage is 8-bit: rendered as it is and at 32 bits only)."""
    rng = np.random.default_rng(seed)
    clips = []
    for linger, sway in scenes:
        frames, bg, visible = scene(linger, rng, sway)
        for name, noise, crf in conditions:
            for bits in depths:
                if crf is not None and bits == 16:
                    continue  # 8-bit footage: rendered as it is and converted to float
                kind = f'sway {sway:g}' if sway else 'still'
                folder = os.path.abspath(
                    f'{work}/{tag}-linger{int(linger * 100)}-{kind.replace(" ", "")}-'
                    f'{name.replace(" ", "")}-{bits}')
                stored = make_clip(folder, frames, bits if crf is None else 8, noise, crf, rng)
                source_bits = 8 if crf is not None else bits
                clip = {'folder': folder, 'bg': bg, 'bits': bits,
                        'pattern': 'f%03d.' + ('pfm' if source_bits == 32 else 'png'),
                        'name': f'{tag}{int(linger * 100)} % {kind}, {name}, {bits}-bit',
                        'visible': visible.min(), 'linger': linger, 'crf': crf}
                clip['median'] = score(np.median(stored, axis=0), clip)
                clips.append(clip)
    return clips


FIT_CONDITIONS = [('clean', 0, None), ('gauss 1', 1, None), ('gauss 2.5', 2.5, None),
                  ('gauss 5', 5, None), ('h264 crf 18', 1, 18), ('h264 crf 26', 1, 26),
                  ('h264 crf 34', 1, 34)]
SWAY_CONDITIONS = [('clean', 0, None), ('gauss 1', 1, None), ('h264 crf 18', 1, 18),
                   ('h264 crf 26', 1, 26)]
HELD_OUT_CONDITIONS = [('clean', 0, None), ('gauss 1.5', 1.5, None), ('gauss 4', 4, None),
                       ('h264 crf 22', 1, 22), ('h264 crf 30', 1, 30)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build-dir', default='build/ci')
    parser.add_argument('--work', default='build/divergence-study')
    parser.add_argument('--ceiling', action='store_true',
                        help='also sweep the Rating Range and report the best the sliders can do')
    parser.add_argument('--every-table', action='store_true',
                        help='only the vtest.avi table of auto at every 1st to 16th frame')
    parser.add_argument('--linear', action='store_true',
                        help='only the scene-linear float measurements')
    parser.add_argument('--holes-table', action='store_true',
                        help='only the table of holes where few frames are visible, by tolerance')
    parser.add_argument('--space-table', action='store_true',
                        help='only the table of candidate curves for the log working space')
    parser.add_argument('--report-only', action='store_true',
                        help='print the tables again from the scores the last run kept in WORK '
                        '(scores.pickle), with the rule as this file now states it')
    parser.add_argument('--only', default='',
                        help='study only the clips whose name has this text, or one of several '
                        '(A|B); all clips are still made, so each has the same noise as in a full '
                        'run')
    args = parser.parse_args()
    tool = os.path.abspath(f'{args.build_dir}/cli/framemeld')
    if args.every_table:
        every_table(tool, args.work)
        return
    if args.linear:
        linear_study(tool, args.work)
        return
    if args.space_table:
        space_table(tool, args.work)
        return
    if args.holes_table:
        holes_table(tool, args.work)
        return

    kept = f'{args.work}/scores.pickle'
    if args.report_only:
        with open(kept, 'rb') as f:
            fitting, fit_results, held_out, held_results = pickle.load(f)
        report_all(fitting, fit_results, held_out, held_results, args.ceiling)
        return
    fitting = clip_set(args.work, 20261208, [(0.3, 0), (0.45, 0), (0.6, 0)], FIT_CONDITIONS, '')
    fitting += clip_set(args.work, 20261209, [(0.45, 5), (0.7, 5)], SWAY_CONDITIONS, '')
    held_out = clip_set(args.work, 20261210, [(0.35, 4), (0.65, 6)], HELD_OUT_CONDITIONS,
                        'held-out ', depths=(8, 16, 32))
    keep = lambda c: any(part in c['name'] for part in args.only.split('|'))
    fitting = [c for c in fitting if keep(c)]
    held_out = [c for c in held_out if keep(c)]
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = list(pool.map(lambda c: study_clip(tool, c, args.ceiling), fitting + held_out))
    fit_results, held_results = results[:len(fitting)], results[len(fitting):]
    for c in fitting + held_out:
        del c['bg']  # the scores are kept; the pictures are not needed again
    with open(kept, 'wb') as f:
        pickle.dump((fitting, fit_results, held_out, held_results), f)
    report_all(fitting, fit_results, held_out, held_results, args.ceiling)


def with_rule(clips, results):
    """The results with `auto` as TOOL_RULE picks it: the plate at the Divergence the rule gives
    for the noise the tool measured (rendered among the candidates), so a rule fitted after the
    run is scored exactly as the tool will render it."""
    ruled = []
    for c, r in zip(clips, results):
        d = divergence_for_noise(r['sigma'], c['bits'], TOOL_RULE)
        rating = rating_for(TOOL_RULE, c['bits'], r['tool_r'])
        ruled.append(dict(r, auto=r['rules'][(d, rating)], auto_d=d, auto_r=rating))
    return ruled


def report_all(fitting, fit_results, held_out, held_results, ceiling):
    fit_results = with_rule(fitting, fit_results)
    held_results = with_rule(held_out, held_results)
    report_rules(fitting, fit_results)
    report_clips('Per clip, the fitting set', fitting, fit_results)
    if held_out:
        report_clips('Per clip, the held-out set (scored only here, with the tool\'s rule)',
                     held_out, held_results)
    if ceiling:
        report_ceiling(fitting + held_out, fit_results + held_results)


def best_fixed(r):
    return min(r['fixed'], key=lambda d: r['fixed'][d][0])


def near_best(s, r):
    """Whether mean error `s` is within WITHIN_BEST of the best fixed Divergence's (or 0.01)."""
    best = r['fixed'][best_fixed(r)][0]
    return s[0] <= best * (1 + WITHIN_BEST) or s[0] - best < 0.005


def beats_median(c, s, r):
    """'better', 'level' or 'worse' against the temporal median on both measures, at the tables'
    precision; None where the background shows in fewer than half of the frames."""
    if c['linger'] > 0.5:
        return None  # as before: the 45 % scenes count (crossers in front bring them to 48 %)
    a = tuple(round(v, 2) for v in s)
    m = tuple(round(v, 2) for v in r['median'])
    if a == m:
        return 'level'
    return 'better' if a[0] <= m[0] and a[1] <= m[1] else 'worse'


def tally(clips, results, scores, depths=(16, 32)):
    """Clips near the best fixed value; and against the median at `depths`."""
    near = sum(near_best(s, r) for r, s in zip(results, scores))
    counts = {'better': 0, 'level': 0, 'worse': 0}
    for c, r, s in zip(clips, results, scores):
        verdict = beats_median(c, s, r)
        if verdict and c['bits'] in depths:
            counts[verdict] += 1
    return near, counts


def rule_scores(results, clips, rule):
    return [r['rules'][(divergence_for_noise(r['sigma'], c['bits'], rule),
                        rating_for(rule, c['bits'], r['tool_r']))]
            for c, r in zip(clips, results)]


def rule_name(rule):
    def part(k, floor, rating):
        text = f'k = {k:g}' + (f', floor {floor:g} levels' if floor else '')
        return text + (f', R {rating:g}' if rating is not None else '')
    if rule[8] == rule[32]:
        return part(*rule[8])
    return f'{part(*rule[8])} at 8 bits; {part(*rule[32])} at 16 and 32'


def report_rules(clips, results):
    print(f'### Candidate rules on the fitting set ({len(clips)} clips): tolerance = k x sigma + '
          f'floor, at the Rating Range auto chose unless R is given\n')
    print('Near best: clips where the mean error is within 15 % (or 0.01 levels) of the best '
          'fixed Divergence for that clip. Against the median: clips at 16 and 32 bits with the '
          'background visible in at least half of the frames, better / level / worse on both '
          'measures.\n')
    print('| rule | mean error (levels) | pixels > 20 levels (%) | near best | worst ratio to best '
          '| against the median, 16/32-bit |')
    print('|---|---:|---:|---:|---:|---:|')
    ranked = []
    rules = CANDIDATE_RULES + ([] if TOOL_RULE in CANDIDATE_RULES else [TOOL_RULE])
    for rule in rules:
        scores = rule_scores(results, clips, rule)
        near, counts = tally(clips, results, scores)
        worst = max(s[0] / max(r['fixed'][best_fixed(r)][0], 0.005)
                    for r, s in zip(results, scores))
        ranked.append((-near, counts['worse'], np.mean([s[0] for s in scores]), rule, worst,
                       counts, scores))
    ranked.sort(key=lambda t: t[:3])
    shown = ranked[:15]
    # The tool's rule is always shown, with its place.
    place = next(i for i, t in enumerate(ranked) if t[3] == TOOL_RULE)
    if place >= len(shown):
        shown.append(ranked[place])
    for _, _, mean, rule, worst, counts, scores in shown:
        mark = f' (the tool, {place + 1}.)' if rule == TOOL_RULE else ''
        print(f'| {rule_name(rule)}{mark} | {mean:.3f} | '
              f'{np.mean([s[1] for s in scores]):.3f} | {sum(near_best(s, r) for r, s in zip(results, scores))} '
              f'/ {len(clips)} | {worst:.2f} | {counts["better"]} / {counts["level"]} / '
              f'{counts["worse"]} |')
    for d in SWEEP:
        scores = [r['fixed'][d] for r in results]
        print(f'| fixed {d:g} | {np.mean([s[0] for s in scores]):.3f} | '
              f'{np.mean([s[1] for s in scores]):.3f} | | | |')
    scores = [r['median'] for r in results]
    print(f'| temporal median | {np.mean([s[0] for s in scores]):.3f} | '
          f'{np.mean([s[1] for s in scores]):.3f} | | | |')
    print(f'\n(the 15 best of {len(rules)} rules and the tool\'s, ranked by clips near best, then '
          f'clips worse than the median, then mean error)\n')


def report_clips(title, clips, results):
    print(f'### {title}: mean error in levels of 255 / share of pixels > 20 levels off (%)\n')
    print('| clip | bg visible (min) | noise sigma (levels) | auto D, R | auto | '
          + ' | '.join(f'fixed {d:g}' for d in FIXED_SHOWN)
          + ' | best fixed (D) | temporal median | auto near best | auto vs median |')
    print('|---|---:|---:|---:|---|---|---|---|---|---|---|---|')
    def cell(s):
        return f'{s[0]:.2f} / {s[1]:.2f}'
    for c, r in zip(clips, results):
        best = best_fixed(r)
        verdict = beats_median(c, r['auto'], r) or ''
        print(f'| {c["name"]} | {c["visible"] * 100:.0f} % | {r["sigma"] * 255:.2f} | '
              f'{r["auto_d"]:g}, {r["auto_r"]:g} | {cell(r["auto"])} | '
              + ' | '.join(cell(r['fixed'][d]) for d in FIXED_SHOWN)
              + f' | {cell(r["fixed"][best])} ({best:g}) | {cell(r["median"])} | '
              f'{"yes" if near_best(r["auto"], r) else "NO"} | {verdict} |')
    scores = [r['auto'] for r in results]
    near, high = tally(clips, results, scores)
    _, low = tally(clips, results, scores, depths=(8,))
    zero = sum(r['sigma'] == 0 for r in results)
    print(f'\n{len(clips)} clips, {zero} of them measured noiseless. auto near the best fixed '
          f'Divergence on {near}. Background visible in at least half of the frames: against the '
          f'temporal median at 16 and 32 bits better on {high["better"]}, level on '
          f'{high["level"]}, worse on {high["worse"]}; at 8 bits better on {low["better"]}, level '
          f'on {low["level"]}, worse on {low["worse"]}. Mean error: auto '
          f'{np.mean([s[0] for s in scores]):.3f}, the best fixed value per clip '
          f'{np.mean([r["fixed"][best_fixed(r)][0] for r in results]):.3f}, the median '
          f'{np.mean([r["median"][0] for r in results]):.3f}.\n')


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
        if not beats and c['visible'] >= 0.5:
            unreachable += 1
        print(f'| {c["name"]} | {c["visible"] * 100:.0f} % | {cell(r["auto"])} | '
              f'{cell(r["settings"][best])} ({best[0]:g}, {best[1]:g}) | {cell(r["median"])} | '
              + (f'yes ({len(beats)} of {len(r["settings"])})' if beats else 'no') + ' |')
    print(f'\nBackground visible in at least half of the frames: on {unreachable} clips no '
          f'setting of the two sliders is better than the temporal median on both measures.')


# ---- --holes-table: how many visible samples a tolerance needs ------------------------------

HOLE_VISIBLE = [3, 4, 6, 8, 12]
HOLE_RULES = [(1.0, 2), (1.5, 2), (2.0, 2), (1.0, 1), (1.5, 1), (2.0, 1)]  # (k, Rating Range)
HOLE_CONDITIONS = [('gauss 1', 1, None), ('gauss 2.5', 2.5, None), ('gauss 5', 5, None),
                   ('h264 crf 26', 1, 26)]


def holes_table(tool, work):
    """8-bit clips of the background alone (48 frames), with a holdout matte that leaves every
    pixel visible in exactly V of the frames (a band of held-out columns moving across): the share
    of the plate the plug-in cannot fill (holes: too few visible samples agree) at the Divergence
    k x sigma gives for the noise `auto` measured, and the mean error of the pixels filled
    (levels of 255)."""
    rng = np.random.default_rng(20261211)
    bg = background(rng)
    frames = np.repeat(bg[None], FRAMES, axis=0)
    print('### Holes where few frames are visible, 8-bit\n')
    print('| footage | noise sigma (levels) | visible frames | '
          + ' | '.join(f'k = {k:g}, R {r}: D, holes (%), error' for k, r in HOLE_RULES) + ' |')
    print('|---|---:|---:|' + '---|' * len(HOLE_RULES))
    for name, noise, crf in HOLE_CONDITIONS:
        folder = os.path.abspath(f'{work}/holes-{name.replace(" ", "")}')
        stored = make_clip(folder, frames, 8, noise, crf, rng)
        clip = {'folder': folder, 'pattern': 'f%03d.png', 'bg': bg}
        _, report = render(tool, clip, 8, 'auto')
        sigma = noise_full_scale(report)
        for visible in HOLE_VISIBLE:
            mattes = f'{folder}/matte-{visible}'
            os.makedirs(mattes, exist_ok=True)
            x = np.arange(WIDTH)
            for t in range(FRAMES):
                # Column x shows the background in frames t where (x + t) mod 48 < visible.
                shown = ((x + t) % FRAMES) < visible
                row = np.where(shown, 0, 255).astype('u1')
                write_png(f'{mattes}/m{t:03d}.png', np.repeat(row[None, :, None] / 255.0,
                                                               HEIGHT, axis=0), 8, grey=True)
            cells = []
            for k, rating in HOLE_RULES:
                d = divergence_for_noise(sigma, 8, by_depth((k, 0.0, None), (k, 0.0, None)))
                plate, done = render(tool, clip, 8, f'{d:g}', str(rating),
                                     extra=['--holdout', f'{mattes}/m%03d.png'])
                # The plate has no alpha (nor has the footage): its holes are black, which the
                # background (at least 0.02 in every channel) never is.
                filled = plate.max(axis=2) > 0
                error = np.abs(plate - bg)[filled].mean() * 255.0
                cells.append(f'{d:g}, {100.0 * done["hole_share"]:.1f}, {error:.2f}')
            print(f'| {name} | {sigma * 255:.2f} | {visible} | ' + ' | '.join(cells) + ' |')
    print()


# ---- --every on real footage -----------------------------------------------------------------

VTEST = '/usr/share/doc/opencv-doc/examples/data/vtest.avi'


def read_plate(path, height, width, wide=False):
    raw = subprocess.run(['ffmpeg', '-loglevel', 'error', '-i', path, '-f', 'rawvideo',
                          '-pix_fmt', 'rgb48le' if wide else 'rgb24', '-'],
                         capture_output=True, check=True).stdout
    return np.frombuffer(raw, '<u2' if wide else 'u1').reshape(height, width, 3).astype(np.int32)


def every_table(tool, work):
    """auto on vtest.avi (768x576, 795 frames of MPEG-4 part 2) at every 1st to 16th frame: the
    noise it measures and the Divergence it picks, and how far each plate is from the plate of
    every frame."""
    os.makedirs(work, exist_ok=True)
    print('### `auto` on vtest.avi at every n-th frame\n')
    print('| --every | frames sampled | noise sigma (levels) | auto Divergence | Rating Range | '
          'pixels differing from the every-frame plate (%) | mean difference (levels) |')
    print('|---:|---:|---:|---:|---:|---:|---:|')
    first = None
    for every in range(1, 17):
        plate = f'{work}/vtest-every{every}.png'
        done = subprocess.run([tool, VTEST, '-o', plate, '--every', str(every), '--json', '-q'],
                              capture_output=True, text=True)
        if done.returncode != 0:
            sys.exit(f'divergence-study: vtest at --every {every} failed:\n{done.stderr}')
        report = json.loads(done.stdout)
        pixels = read_plate(plate, 576, 768)
        first = pixels if first is None else first
        differing = (np.abs(pixels - first).max(axis=2) > 0).mean() * 100
        print(f'| {every} | {len(report["frames_sampled"])} | {noise_full_scale(report) * 255:.2f} | '
              f'{report["settings"]["Divergence"]:g} | {report["settings"]["Rating Range"]:g} | '
              f'{differing:.1f} | {np.abs(pixels - first).mean():.2f} |', flush=True)


# ---- scene-linear float footage --------------------------------------------------------------

# The log encoding studied for the working space: mid grey (0.18) at 0.5, LOG_STOPS stops over
# the unit range, values below LOG_FLOOR held there.
LOG_STOPS = 16.0
LOG_FLOOR = 0.18 * 2.0 ** -8


def to_log(x):
    return 0.5 + np.log2(np.maximum(x, LOG_FLOOR) / 0.18) / LOG_STOPS


def from_log(y):
    return 0.18 * 2.0 ** ((y - 0.5) * LOG_STOPS)


def linear_scene(rng):
    """Scene-linear frames: the left half a dark background at 0.01, the right half a bright one
    at 0.5, each with a mild texture; a dark object (0.05) crossing the dark half and a bright one
    (0.9) the bright half, two of each, every place on their path covered in about a fifth of the
    frames; noise that grows with the signal (shot noise plus a read-noise floor)."""
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float64)
    level = np.where(x < WIDTH / 2, 0.01, 0.5)
    bg = np.repeat((level * (1 + 0.1 * np.sin(x / 7.0) * np.cos(y / 5.0)))[..., None], 3, axis=2)
    frames = np.repeat(bg[None], FRAMES, axis=0)
    dark, bright = np.zeros((HEIGHT, WIDTH), bool), np.zeros((HEIGHT, WIDTH), bool)
    for t in range(FRAMES):
        for half, value, mask in ((0, 0.05, dark), (1, 0.9, bright)):
            cx = half * WIDTH // 2 + 20 + (t * 7 + 13 * half) % (WIDTH // 2 - 40)
            for cy in (45, 135):
                m = ellipse(cx, cy, 6, 30) & ((x < WIDTH / 2) == (half == 0))
                frames[t][m] = value
                mask |= m
    sigma = np.sqrt(1e-4 * frames + (2e-4) ** 2)
    noisy = frames + rng.normal(0, 1, frames.shape) * sigma
    return noisy.astype(np.float32).astype(np.float64), bg, dark, bright


def read_exr(path):
    """A float EXR plate as RGB, through FFmpeg's EXR decoder (planes in G, B, R order)."""
    raw = subprocess.run(['ffmpeg', '-loglevel', 'error', '-i', path, '-f', 'rawvideo',
                          '-pix_fmt', 'gbrpf32le', '-'], capture_output=True, check=True).stdout
    g, b, r = np.frombuffer(raw, '<f4').reshape(3, HEIGHT, WIDTH)
    return np.stack([r, g, b], axis=-1)


def render_float(tool, folder, divergence):
    plate = f'{folder}/plate.exr'
    # The encoding under study is applied here, so the tool compares the values as given.
    done = subprocess.run([tool, f'{folder}/f%03d.pfm', '-o', plate, '--divergence', divergence,
                           '--working-space', 'linear', '--threads', '1', '--json', '-q'],
                          capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f'divergence-study: {folder} at {divergence} failed:\n{done.stderr}')
    return read_exr(plate).astype(np.float64), json.loads(done.stdout)


def linear_study(tool, work):
    rng = np.random.default_rng(20261211)
    frames, bg, dark, bright = linear_scene(rng)
    left = np.zeros((HEIGHT, WIDTH), bool)
    left[:, :WIDTH // 2] = True
    dark_noise = np.sqrt(1e-4 * 0.01 + (2e-4) ** 2)
    folders = {}
    for name, encode in (('linear', lambda v: v), ('log', to_log)):
        folder = os.path.abspath(f'{work}/linear-light-{name}')
        os.makedirs(folder, exist_ok=True)
        for t, img in enumerate(encode(frames)):
            write_pfm(f'{folder}/f{t:03d}.pfm', img)
        folders[name] = folder

    def measures(plate):
        ghost = plate[dark] - bg[dark]
        err = np.abs(plate - bg)
        return (ghost.mean(), np.abs(ghost).max(), err[left].mean(), err[~left].mean(),
                (plate[~left] - bg[~left]).mean() / 0.5 * 100)

    print('### Scene-linear float footage: a dark object (0.05) over a dark background (0.01)\n')
    print(f'320x180, 48 frames, noise sigma sqrt(1e-4 x value + 2e-4^2) ({dark_noise:.5f} on the '
          f'dark background, 0.0071 on the bright one at 0.5), 32-bit render. Ghost: the plate '
          f'minus the background where the dark object passed. Bias: the bright half\'s mean '
          f'signed error, in % of its value. Log: the frames encoded as 0.5 + log2(x / 0.18) / '
          f'{LOG_STOPS:g} (values below {LOG_FLOOR:.5f} held there) before the render, the plate '
          f'decoded after.\n')
    print('| space | Divergence | noise sigma measured (full scale) | ghost mean | ghost max | '
          'mean error, dark half | mean error, bright half | bias, bright half (%) |')
    print('|---|---:|---:|---:|---:|---:|---:|---:|')
    for name in ('linear', 'log'):
        for divergence in ['auto', '0.1', '0.25', '0.5', '1', '2', '5']:
            plate, report = render_float(tool, folders[name], divergence)
            if name == 'log':
                plate = from_log(plate)
            g, gmax, ed, eb, bias = measures(plate)
            d = report['settings']['Divergence']
            noise = noise_full_scale(report) * 255 if divergence == 'auto' else None
            print(f'| {name} | {d:g}{" (auto)" if divergence == "auto" else ""} | '
                  + (f'{noise / 255:.5f}' if noise is not None else '')
                  + f' | {g:.5f} | {gmax:.5f} | {ed:.5f} | {eb:.5f} | {bias:+.3f} |', flush=True)
    g, gmax, ed, eb, bias = measures(np.median(frames, axis=0))
    print(f'| temporal median (linear) | | | {g:.5f} | {gmax:.5f} | {ed:.5f} | {eb:.5f} | '
          f'{bias:+.3f} |')
    for name, encode in (('linear', lambda v: v), ('log', to_log)):
        enc = encode(frames)
        spread = np.abs(enc - np.median(enc, axis=0)).mean(axis=0) / 0.7979
        print(f'\nNoise of the frames as rendered ({name}): per-place sigma, median over the '
              f'places, {np.median(spread[left & ~dark]):.5f} on the dark background, '
              f'{np.median(spread[~left & ~bright]):.5f} on the bright one (full scale).')



# ---- which curve the log working space uses ---------------------------------------------------

# Candidate encodings for scene-linear footage, as OpenColorIO colour spaces from the scene's
# linear reference: the tool's `log` (16 stops a unit, mid grey at 0.5), the same curve at 10 and
# 24 stops a unit, ACEScct's curve, and a display-like power of 1/2.2. Each is rendered through
# `--working-space NAME --ocio-config`, so the tool encodes and decodes as it does for any user.
SPACE_CONFIG = """ocio_profile_version: 2
roles:
  scene_linear: lin
  default: lin
displays:
  none:
    - !<View> {name: raw, colorspace: lin}
colorspaces:
  - !<ColorSpace> {name: lin, isdata: false}
  - !<ColorSpace>
    name: log16
    from_scene_reference: !<LogCameraTransform> {base: 2, log_side_slope: 0.0625, lin_side_slope: 5.5555555555555556, log_side_offset: 0.5, lin_side_break: 0.000703125}
  - !<ColorSpace>
    name: log10
    from_scene_reference: !<LogCameraTransform> {base: 2, log_side_slope: 0.1, lin_side_slope: 5.5555555555555556, log_side_offset: 0.5, lin_side_break: 0.005625}
  - !<ColorSpace>
    name: log24
    from_scene_reference: !<LogCameraTransform> {base: 2, log_side_slope: 0.041666666666666667, lin_side_slope: 5.5555555555555556, log_side_offset: 0.5, lin_side_break: 0.0000439453125}
  - !<ColorSpace>
    name: acescct
    from_scene_reference: !<LogCameraTransform> {base: 2, log_side_slope: 0.057077625570776253, log_side_offset: 0.55479452054794520, lin_side_break: 0.0078125}
  - !<ColorSpace>
    name: gamma22
    from_scene_reference: !<ExponentTransform> {value: [0.45454545454545453, 0.45454545454545453, 0.45454545454545453, 1], style: mirror}
"""
SPACES = [('linear', 'linear'), ('log (the tool)', 'log'), ('log, 10 stops a unit', 'log10'),
          ('log, 24 stops a unit', 'log24'), ('ACEScct curve', 'acescct'),
          ('power 1/2.2', 'gamma22')]
SPACE_SWEEP = ['auto', '0.25', '0.5', '1', '2', '4']


def space_scenes(rng):
    """Three scene-linear clips with the noise of linear_scene: `split` (a dark half at 0.01, a
    bright one at 0.5, a dark and a bright object crossing each), `dark` (0.01 all over, objects
    at 0.05: a figure in a night exterior) and `hdr` (mid grey with a window at 4.0, a dark figure
    at 0.02 crossing both)."""
    y, x = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float64)
    texture = 1 + 0.1 * np.sin(x / 7.0) * np.cos(y / 5.0)
    scenes = {}
    frames, bg, dark, bright = linear_scene(rng)
    scenes['split'] = (frames, bg, dark, x < WIDTH / 2)
    for name, level, objects in (('dark', np.full_like(x, 0.01), 0.05),
                                 ('hdr', np.where((x > WIDTH * 0.55) & (y < HEIGHT * 0.6), 4.0,
                                                  0.18), 0.02)):
        bg = np.repeat((level * texture)[..., None], 3, axis=2)
        clean = np.repeat(bg[None], FRAMES, axis=0)
        path = np.zeros((HEIGHT, WIDTH), bool)
        for t in range(FRAMES):
            for k, cy in enumerate((50, 130)):
                cx = 20 + (t * 7 + 90 * k) % (WIDTH - 40)
                m = ellipse(cx, cy, 6, 30)
                clean[t][m] = objects
                path |= m
        sigma = np.sqrt(1e-4 * clean + (2e-4) ** 2)
        noisy = clean + rng.normal(0, 1, clean.shape) * sigma
        # `dark` has no bright part: the whole frame is the dark side.
        dark_side = np.ones_like(path) if name == 'dark' else level < 1.0
        scenes[name] = (noisy.astype(np.float32).astype(np.float64), bg, path, dark_side)
    return scenes


def space_table(tool, work):
    rng = np.random.default_rng(20261212)
    os.makedirs(work, exist_ok=True)
    config = os.path.abspath(f'{work}/spaces.ocio')
    with open(config, 'w') as f:
        f.write(SPACE_CONFIG)
    scenes = space_scenes(rng)
    print('### Which curve for the log working space: scene-linear float footage\n')
    print('320x180, 48 frames, noise sigma sqrt(1e-4 x value + 2e-4^2), 32-bit render, through '
          '`--working-space` (the curves as OpenColorIO spaces of one configuration). Ghost: the '
          'plate minus the background where the objects passed, mean and largest, in linear '
          'units and in multiples of the noise there. Error: mean absolute error against the '
          'background in linear units on the dark side (background at most 0.18) and, relative '
          'to the value, on the bright side; bias: the bright side\'s mean signed error in % of '
          'its value. Best: the fixed Divergence with the lowest mean error over the frame.\n')
    print('| scene | space | Divergence (auto) | ghost mean | ghost max (x noise) | error, dark | '
          'error, bright (% of value) | bias, bright (%) | best fixed: Divergence, error dark / '
          'bright (%) |')
    print('|---|---|---:|---:|---:|---:|---:|---:|---:|')
    summary = {}
    for scene_name, (frames, bg, path, dark_side) in scenes.items():
        folder = os.path.abspath(f'{work}/space-{scene_name}')
        os.makedirs(folder, exist_ok=True)
        for t, img in enumerate(frames):
            write_pfm(f'{folder}/f{t:03d}.pfm', img)
        bright = ~dark_side
        noise = np.sqrt(1e-4 * bg + (2e-4) ** 2)
        for label, space in SPACES:
            rows = []
            for divergence in SPACE_SWEEP:
                plate = f'{folder}/plate-{space}-{divergence}.exr'
                command = [tool, f'{folder}/f%03d.pfm', '-o', plate, '--divergence', divergence,
                           '--working-space', space, '--threads', '1', '--json', '-q']
                if space not in ('linear', 'log'):
                    command += ['--ocio-config', config]
                done = subprocess.run(command, capture_output=True, text=True)
                if done.returncode != 0:
                    sys.exit(f'divergence-study: {plate} failed:\n{done.stderr}')
                image = read_exr(plate).astype(np.float64)
                report = json.loads(done.stdout)
                ghost = image[path] - bg[path]
                err = np.abs(image - bg)
                relative = err[bright] / bg[bright] * 100 if bright.any() else np.zeros(1)
                bias = ((image[bright] - bg[bright]) / bg[bright]).mean() * 100 if bright.any() \
                    else 0.0
                rows.append((divergence, report['settings']['Divergence'], ghost.mean(),
                             np.abs(ghost).max(), (np.abs(ghost) / noise[path]).max(),
                             err[dark_side].mean(), relative.mean(), bias,
                             err.mean() / bg.mean()))
            auto = rows[0]
            best = min(rows[1:], key=lambda r: r[8])
            summary[(scene_name, space)] = (auto, best)
            print(f'| {scene_name} | {label} | {auto[1]:.3g} | {auto[2]:+.5f} | {auto[3]:.5f} '
                  f'({auto[4]:.1f}) | {auto[5]:.5f} | '
                  + (f'{auto[6]:.3f} | {auto[7]:+.3f}' if bright.any() else '| ')
                  + f' | {best[1]:g}: {best[5]:.5f} / '
                  + (f'{best[6]:.3f}' if bright.any() else '')
                  + ' |', flush=True)
    return summary


if __name__ == '__main__':
    main()
