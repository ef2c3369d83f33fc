# Sourced by the soak scripts. Under Wine the host's own private-bytes figure does not move, so
# the scripts also watch the Linux side of the host process: resident anonymous memory and
# threads, every SAMPLE_SECONDS (default 5), into a file; summarised as first/last/max.
#   start_host_sampler HOSTDIR FILE    (the host is the lumivar_host.exe running in HOSTDIR)
#   stop_host_sampler
#   summarise_host_samples FILE
sampler_pid=
start_host_sampler() {
  local dir=$1 file=$2
  : >"$file"
  (
    pid=
    while :; do
      if [ -z "$pid" ] || [ ! -d "/proc/$pid" ]; then
        pid=
        for p in $(pgrep -f 'lumivar_host\.exe'); do
          [ "$(readlink "/proc/$p/cwd" 2>/dev/null)" = "$dir" ] && pid=$p
        done
      fi
      [ -n "$pid" ] && awk -v t="$(date +%s)" '/^RssAnon:/ { a = $2 } /^Threads:/ { th = $2 }
        END { if (a != "") print t, a, th }' "/proc/$pid/status" 2>/dev/null >>"$file"
      sleep "${SAMPLE_SECONDS:-5}"
    done
  ) &
  sampler_pid=$!
}
stop_host_sampler() {
  [ -n "$sampler_pid" ] && kill -TERM "$sampler_pid" 2>/dev/null
  sampler_pid=
}
summarise_host_samples() {
  # The first sample is the process starting up; the middle one, where one-time growth is over,
  # against the last one shows a leak.
  awk '{ a[++n] = $2; th[n] = $3; if ($2 > ma) ma = $2; if ($3 > mt) mt = $3 }
    END {
      if (!n) { print "   no Linux-side samples of the host"; exit }
      m = int((n + 1) / 2)
      printf "   %-11s %10s %10s %10s %10s   (Linux side of the host, %d samples)\n", "", "first", "middle", "last", "max", n
      printf "   %-11s %10s %10s %10s %10s\n", "rss_anon_kb", a[1], a[m], a[n], ma
      printf "   %-11s %10s %10s %10s %10s\n", "os_threads", th[1], th[m], th[n], mt
    }' "$1"
}
