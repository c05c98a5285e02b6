#!/usr/bin/env bash
# Times reading footage as studios deliver it: one generated 1080p clip written as 8-bit PNG,
# 16-bit PNG, 16-bit TIFF (deflate), 10-bit DPX, half EXR (zip, piz, dwaa), float EXR (zip),
# ProRes 422 HQ and H.264. For each format:
#   - the whole plate by framemeld at the footage's own depth, with the read, render and write
#     times and the frames per second read it reports, and its peak memory;
#   - FFmpeg's tmedian over the same files (where FFmpeg reads the format), and its peak memory;
#   - decode_floor: the bare decode of the same frames on the same libraries and threads into
#     one reused buffer per thread, the floor that reading cannot beat.
# Then the targets: reading within 1.3x of the floor, the plate at least 3x faster than FFmpeg.
#
# usage: bench/format-bench.sh [--build-dir DIR] [--work DIR] [--frames N | --full] [--runs N]
#                              [--formats "png8 exr-half-zip ..."]
#   --build-dir  where framemeld, its modules and decode_floor are built (default build/bench,
#                the 'bench' preset; configured and built here when something is missing)
#   --work       where the clips, plates and results go (default build/format-bench)
#   --frames     clip length (default 30, a few minutes on two shared cores); --full is 100
#   --runs       runs per command; the fastest is kept (default 1)
#   --formats    a subset of the format names above (default all)
#
# The clip is plate-bench.sh's recipe (a Mandelbrot still, a box moving across it, fresh 8-bit
# noise on every frame); the deeper formats get a second, fine Gaussian noise (σ half an 8-bit
# step, a seed per frame) so that their low bits are as incompressible as a camera's.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/bench
work=build/format-bench
frames=30
runs=1
all_formats="png8 png16 tif16 dpx10 exr-half-zip exr-half-piz exr-half-dwaa exr-float-zip prores h264"
formats=$all_formats
while (($#)); do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --frames) frames=$2; shift 2 ;;
    --full) frames=100; shift ;;
    --runs) runs=$2; shift 2 ;;
    --formats) formats=$2; shift 2 ;;
    -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
    *) echo "format-bench: unknown argument $1" >&2; exit 2 ;;
  esac
done

for tool in ffmpeg oiiotool /usr/bin/time python3; do
  if ! command -v "$tool" >/dev/null; then
    bash scripts/setup.sh --bench
    break
  fi
done

if [[ ! -x "$build_dir/cli/framemeld" || ! -x "$build_dir/bench/decode_floor" ]]; then
  if [[ "$build_dir" == build/bench && ! -f build/bench/CMakeCache.txt ]]; then
    cmake --preset bench >/dev/null
  fi
  cmake --build "$build_dir" -j2 --target framemeld Framemeld framemeld_oiio decode_floor
fi
framemeld=$(cd "$build_dir/cli" && pwd)/framemeld
floor=$(cd "$build_dir/bench" && pwd)/decode_floor
threads=$(nproc)

mkdir -p "$work"
work=$(cd "$work" && pwd)
clips=$work/clips-$frames
results=$work/results
plates=$work/plates
rm -rf "$results"
mkdir -p "$clips" "$results" "$plates"

# --- The clips ------------------------------------------------------------------------------
recipe="mandelbrot 1920x1080, box 260x260 0xD03020 moving, noise alls=10 seed 20260801, fine noise 0.002, $frames frames"
if [[ "$(cat "$clips/recipe" 2>/dev/null)" != "$recipe" ]]; then
  echo "format-bench: making the clip in $frames frames of 1920x1080, in every format ($clips)"
  rm -rf "${clips:?}"/*
  mkdir -p "$clips"/{png8,png16,tif16,dpx10,exr-half-zip,exr-half-piz,exr-half-dwaa,exr-float-zip}
  ffmpeg -y -loglevel error -f lavfi \
    -i "mandelbrot=size=1920x1080:rate=25:start_scale=0.5:end_scale=0.5" -frames:v 1 "$clips/background.png"
  ffmpeg -y -loglevel error -loop 1 -framerate 25 -i "$clips/background.png" \
    -f lavfi -i "color=c=0xD03020:size=260x260:rate=25" \
    -filter_complex "[0:v]format=rgb24[bg];[1:v]format=rgb24[box];[bg][box]overlay=x='mod(17*n\,1660)':y='400+300*sin(n/16)',noise=alls=10:allf=t:all_seed=20260801,format=rgb24" \
    -frames:v "$frames" "$clips/png8/f_%03d.png"
  rm -f "$clips/background.png"
  for ((i = 1; i <= frames; ++i)); do
    f=$(printf 'f_%03d' "$i")
    oiiotool "$clips/png8/$f.png" --noise:type=gaussian:mean=0:stddev=0.002:seed="$i" \
      -d uint16 -o "$clips/png16/$f.png" \
      --compression zip -o "$clips/tif16/$f.tif" \
      -d uint10 -o "$clips/dpx10/$f.dpx" \
      -d half --compression zip -o "$clips/exr-half-zip/$f.exr" \
      --compression piz -o "$clips/exr-half-piz/$f.exr" \
      --compression dwaa -o "$clips/exr-half-dwaa/$f.exr" \
      -d float --compression zip -o "$clips/exr-float-zip/$f.exr"
  done
  ffmpeg -y -loglevel error -framerate 25 -i "$clips/png16/f_%03d.png" \
    -c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le "$clips/prores.mov"
  ffmpeg -y -loglevel error -framerate 25 -i "$clips/png8/f_%03d.png" \
    -c:v libx264 -crf 16 -pix_fmt yuv420p "$clips/h264.mp4"
  echo "$recipe" >"$clips/recipe"
fi

# --- The runs -------------------------------------------------------------------------------
# Each command runs under GNU time (wall seconds, peak resident KiB, user and system CPU seconds
# appended to a file of its own); framemeld's summary lines go to another, for its phases. On a
# machine shared with other work the CPU seconds say more than the wall clock.
timed() {
  local name=$1
  shift
  /usr/bin/time -f '%e %M %U %S' -a -o "$results/$name.time" "$@"
}

echo "format-bench: load before: $(cut -d' ' -f1-3 /proc/loadavg), $threads cores"
for format in $formats; do
  case "$format" in
    png8) input="$clips/png8/f_%03d.png"; files=("$clips"/png8/*.png); plate=png ;;
    png16|tif16|dpx10)
      ext=${format%16}; ext=${ext%10}
      input="$clips/$format/f_%03d.$ext"; files=("$clips/$format"/*."$ext"); plate=tif ;;
    exr-*) input="$clips/$format/f_%03d.exr"; files=("$clips/$format"/*.exr); plate=exr ;;
    prores) input="$clips/prores.mov"; files=("$input"); plate=tif ;;
    h264) input="$clips/h264.mp4"; files=("$input"); plate=png ;;
    *) echo "format-bench: unknown format $format" >&2; exit 2 ;;
  esac
  echo "format-bench: $format"
  for ((run = 0; run < runs; ++run)); do
    # Movies: the tool and the floor both decode in one pass on the codec's own threads.
    timed "$format.floor" "$floor" --threads "$threads" "${files[@]}" >>"$results/$format.floor"
    timed "$format.framemeld" "$framemeld" "$input" -o "$plates/$format.$plate" \
      2>>"$results/$format.framemeld" || true
    radius=$(((frames / 2) - 1))
    if ffmpeg -loglevel error -i "$input" -frames:v 1 -f null - 2>/dev/null; then
      timed "$format.ffmpeg" ffmpeg -y -loglevel error -threads "$threads" -i "$input" \
        -vf "tmedian=radius=$radius" -frames:v 1 "$plates/$format-ffmpeg.png"
    fi
  done
done
echo "format-bench: load after: $(cut -d' ' -f1-3 /proc/loadavg)"

# --- The table ------------------------------------------------------------------------------
python3 - "$results" "$formats" "$frames" <<'PY' | tee "$work/table.md"
import os, re, sys
results, formats, frames = sys.argv[1], sys.argv[2].split(), int(sys.argv[3])

def timings(name):
    path = os.path.join(results, name + ".time")
    if not os.path.exists(path):
        return None
    rows = [line.split() for line in open(path)
            if re.match(r"^[0-9.]+ [0-9]+ [0-9.]+ [0-9.]+$", line.strip())]
    if not rows:
        return None
    return (min(float(r[0]) for r in rows), max(int(r[1]) for r in rows) / 1024.0,
            min(float(r[2]) + float(r[3]) for r in rows))

def phases(name):
    path = os.path.join(results, name + ".framemeld")
    found = re.findall(r"read ([0-9.]+) s.*?, render ([0-9.]+) s, write ([0-9.]+) s",
                       open(path).read()) if os.path.exists(path) else []
    return tuple(min(float(f[i]) for f in found) for i in range(3)) if found else None

def floor(name):
    path = os.path.join(results, name + ".floor")
    found = re.findall(r"in ([0-9.]+) s", open(path).read()) if os.path.exists(path) else []
    return min(float(f) for f in found) if found else None

def floor_cpu(name):
    t = timings(name + ".floor")
    return t[2] if t else None

def fmt(value, pattern="{:.2f}"):
    return pattern.format(value) if value is not None else ""

print(f"{frames} frames of 1920x1080; seconds are the fastest run, memory the largest peak.")
print()
print("| format | plate s | plate CPU s | read s | frames/s read | render s | write s | peak MiB | bare decode s | bare CPU s | read / bare | FFmpeg tmedian s | FFmpeg CPU s | FFmpeg peak MiB | FFmpeg / plate |")
print("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
for f in formats:
    plate, ph, fl, ff = timings(f + ".framemeld"), phases(f), floor(f), timings(f + ".ffmpeg")
    read = ph[0] if ph else None
    cells = [f, fmt(plate and plate[0]), fmt(plate and plate[2]), fmt(read),
             fmt(frames / read if read else None, "{:.1f}"),
             fmt(ph and ph[1]), fmt(ph and ph[2]), fmt(plate and plate[1], "{:.0f}"), fmt(fl),
             fmt(floor_cpu(f)), fmt(read / fl if read and fl else None, "{:.2f}x"),
             fmt(ff and ff[0]), fmt(ff and ff[2]), fmt(ff and ff[1], "{:.0f}"),
             fmt(ff[0] / plate[0] if ff and plate else None, "{:.1f}x")]
    print("| " + " | ".join(cells) + " |")
print()
print("| target | met by | missed by |")
print("|---|---|---|")
met, missed = [], []
for f in formats:
    ph, fl = phases(f), floor(f)
    if ph and fl:
        (met if ph[0] <= 1.3 * fl else missed).append(f"{f} {ph[0] / fl:.2f}x")
print(f"| read within 1.3x of the bare decode | {', '.join(met)} | {', '.join(missed)} |")
met, missed = [], []
for f in formats:
    plate, ff = timings(f + ".framemeld"), timings(f + ".ffmpeg")
    if plate and ff:
        wanted = 5 if f == "png8" else 3
        (met if ff[0] >= wanted * plate[0] else missed).append(f"{f} {ff[0] / plate[0]:.1f}x (≥ {wanted}x)")
print(f"| plate faster than FFmpeg tmedian | {', '.join(met)} | {', '.join(missed)} |")
PY
echo "format-bench: table in $work/table.md, plates in $plates"
