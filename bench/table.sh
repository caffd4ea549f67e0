#!/usr/bin/env bash
# Prints the benchmark table from run.sh's measurements: one line per job,
# thread count and program with the medians (by wall time; peak memory is
# that of the median run) and Velmora's ratios to each, then the targets.
set -euo pipefail
results=$1
cores=$2
many=${3:-0}

awk -v cores="$cores" -v many="$many" '
function median_index(key,   n, i, j, t, idx) {
  n = count[key]
  for (i = 1; i <= n; i++) idx[i] = i
  for (i = 1; i <= n; i++)
    for (j = i + 1; j <= n; j++)
      if (wall[key, idx[j]] < wall[key, idx[i]]) { t = idx[i]; idx[i] = idx[j]; idx[j] = t }
  return idx[int((n + 1) / 2)]
}
{
  key = $1 " " $2 " " $3
  if (!(key in count)) { order[++keys] = key }
  c = ++count[key]
  wall[key, c] = $5; cpu[key, c] = $6; kb[key, c] = $7; bytes[key, c] = $8
}
END {
  names["fit"] = "1 fit 800x600 q95"; names["png"] = "2 PNG to JPEG"; names["thumb"] = "3 thumbs 96x72"
  names["many"] = "4 small JPEGs"; names["webp"] = "5 WebP q80"; names["avif"] = "5 AVIF"
  pname["velmora"] = "velmora"; pname["magick"] = "ImageMagick"; pname["gm"] = "GraphicsMagick"; pname["vips"] = "vipsthumbnail"
  pname["velmora-nosync"] = "velmora nosync"; pname["velmora-s7"] = "velmora speed 7"
  printf "%-18s %7s %-15s %8s %8s %9s %11s %10s\n", "job", "threads", "program", "wall s", "cpu s", "peak MB", "wall ratio", "cpu ratio"
  for (k = 1; k <= keys; k++) {
    key = order[k]; split(key, f, " ")
    m = median_index(key)
    W[key] = wall[key, m]; C[key] = cpu[key, m]; M[key] = kb[key, m] / 1024; B[key] = bytes[key, m]
  }
  for (k = 1; k <= keys; k++) {
    key = order[k]; split(key, f, " ")
    own = f[1] " " f[2] " velmora"
    wr = (f[3] ~ /^velmora/ || W[key] == 0) ? "" : sprintf("%.2f", W[own] / W[key])
    cr = (f[3] ~ /^velmora/ || C[key] == 0) ? "" : sprintf("%.2f", C[own] / C[key])
    printf "%-18s %7d %-15s %8.2f %8.2f %9.1f %11s %10s\n", names[f[1]], f[2], pname[f[3]], W[key], C[key], M[key], wr, cr
  }
  print ""
  print "Job 5: what the outputs weigh (MB in all) beside the time"
  for (k = 1; k <= keys; k++) {
    key = order[k]; split(key, f, " ")
    own = f[1] " " f[2] " velmora"
    if ((f[1] == "webp" || f[1] == "avif") && B[key] > 0)
      printf "  %-10s %-15s %8.2f s %9.2f MB  %s\n", names[f[1]], pname[f[3]], W[key], B[key] / 1e6,
             (f[3] ~ /^velmora/ ? "" : sprintf("size ratio %.2f", B[own] / B[key]))
  }
  if (many > 0) {
    print ""
    printf "Job 4, %d files: files per second (peak MB)\n", many
    for (k = 1; k <= keys; k++) {
      key = order[k]; split(key, f, " ")
      if (f[1] == "many" && W[key] > 0)
        printf "  %-16s %d thread(s): %8.0f files/s  (%.1f MB)\n", pname[f[3]], f[2], many / W[key], M[key]
    }
    for (t = 1; t <= 2; t++) {
      th = (t == 1 ? 1 : cores)
      if (W["many " th " velmora-nosync"] > 0)
        printf "  flushed writes cost, %d thread(s): %+.0f %%\n", th, 100 * (W["many " th " velmora"] / W["many " th " velmora-nosync"] - 1)
    }
  }
  print ""
  print "Ratios are Velmora / that program (below 1: Velmora is faster or smaller)."
  print ""
  print "Targets"
  v1 = "fit 1 velmora"; vN = "fit " cores " velmora"
  r = W[v1] / W["fit 1 vips"]; printf "  job 1, one thread: wall <= 0.35 x vipsthumbnail: %.2f  %s\n", r, (r <= 0.35 ? "holds" : "MISSED")
  r = W[v1] / W["fit 1 magick"]; printf "  job 1, one thread: wall <= 0.25 x ImageMagick:   %.2f  %s\n", r, (r <= 0.25 ? "holds" : "MISSED")
  r = W[vN] / W[v1]; printf "  job 1, %d workers: wall <= 0.55 x own one-thread:   %.2f  %s\n", cores, r, (r <= 0.55 ? "holds" : "MISSED")
  r = W["png 1 velmora"] / W["png 1 vips"]; printf "  job 2, one thread: wall <= 0.5 x vipsthumbnail:  %.2f  %s\n", r, (r <= 0.5 ? "holds" : "MISSED")
  r = W["thumb 1 velmora"] / W["thumb 1 vips"]; printf "  job 3, one thread: wall <= 0.4 x vipsthumbnail:  %.2f  %s\n", r, (r <= 0.4 ? "holds" : "MISSED")
  r = W["thumb " cores " velmora"] / W["thumb " cores " vips"]; printf "  job 3, %d threads: wall <= 0.8 x vipsthumbnail:   %.2f  %s\n", cores, r, (r <= 0.8 ? "holds" : "MISSED")
  if (many > 0 && W["many 1 vips"] > 0) {
    r = W["many 1 vips"] / W["many 1 velmora"]; printf "  job 4, one thread: >= 5 x vipsthumbnail'"'"'s files per second: %.1f  %s\n", r, (r >= 5 ? "holds" : "MISSED")
  }
  if (many > 0 && W["many 1 velmora-nosync"] > 0) {
    r = W["many 1 velmora"] / W["many 1 velmora-nosync"]; printf "  job 4, one thread: within 10 %% of its time under eatmydata: %.2f  %s\n", r, (r <= 1.10 ? "holds" : "MISSED")
    r = M["many 1 velmora"]; printf "  job 4, one thread, %d files: peak memory <= 64 MB: %.1f  %s\n", many, r, (r <= 64 ? "holds" : "MISSED")
  }
  split("webp:velmora avif:velmora avif:velmora-s7", fives, " ")
  for (j = 1; j <= 3; j++) {
    split(fives[j], g, ":"); mine = g[1] " 1 " g[2]; theirs = g[1] " 1 vips"
    if (W[mine] > 0 && W[theirs] > 0) {
      r = W[mine] / W[theirs]; s = B[mine] / B[theirs]
      printf "  job 5, %s (%s): time <= vipsthumbnail'"'"'s at outputs no larger (2 %%): time %.2f, size %.3f  %s\n", substr(names[g[1]], 3), pname[g[2]], r, s, (r <= 1 && s <= 1.02 ? "holds" : "MISSED")
    }
  }
  split("fit png thumb", jobs, " ")
  for (j = 1; j <= 3; j++)
    for (t = 1; t <= 2; t++) {
      th = (t == 1 ? 1 : cores)
      if (M[jobs[j] " " th " vips"] > 0) {
        r = M[jobs[j] " " th " velmora"] / M[jobs[j] " " th " vips"]
        printf "  job %d, %d thread(s): peak memory below vipsthumbnail: %.2f  %s\n", j, th, r, (r < 1 ? "holds" : "MISSED")
      }
    }
  for (t = 1; t <= 2; t++) {
    th = (t == 1 ? 1 : cores)
    ok = 1; worst = 0
    split("magick gm vips", peers, " ")
    for (p = 1; p <= 3; p++) {
      pk = "fit " th " " peers[p]; r = M["fit " th " velmora"] / M[pk]
      if (r >= 1) ok = 0
      if (r > worst) worst = r
    }
    printf "  job 1, %d thread(s): peak memory below every peer:  %.2f of the closest  %s\n", th, worst, (ok ? "holds" : "MISSED")
  }
}' "$results"
