# Sourced by the scripts: starts tesmar-sim and stops it again.
#   start_sim SIM_BINARY [options...]  sets SIM_PID and SIM_PORT (TCP) once the simulator is ready
#   stop_sim                           stops it; callers run it from their exit trap

start_sim() {
  local binary=$1
  shift
  local fifo_dir
  fifo_dir=$(mktemp -d)
  mkfifo "$fifo_dir/ready"
  "$binary" -p 0 "$@" >"$fifo_dir/ready" &
  SIM_PID=$!
  local line=""
  # The simulator says when it listens and on which port.
  read -r -t 10 line <"$fifo_dir/ready" || true
  rm -rf "$fifo_dir"
  case "$line" in
    "tesmar-sim listening on "*) SIM_PORT=${line##*:} ;;
    *)
      echo "tesmar-sim did not start" >&2
      return 1
      ;;
  esac
}

stop_sim() {
  if [[ -n "${SIM_PID:-}" ]]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=""
  fi
}
