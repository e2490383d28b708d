#!/usr/bin/env bash
# Runs the Windows suite under Wine against a Linux naxsim:
#   run_suite.sh NAXSIM BUILD_DIR
# The simulator serves TCP on a free port, a pseudo-terminal that Wine sees as
# COM5, and its control channel; the suite learns them from the environment.
set -uo pipefail
naxsim=$1
build=$(cd "$2" && pwd)
bin=$build/bin
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko prompts

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix (once per build folder)"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

control_port=$(free_port)
out=$build/naxsim.out
"$naxsim" --port 0 --node 7 --serial --control "$control_port" >"$out" 2>&1 &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null' EXIT
for _ in $(seq 100); do
  grep -q '^naxsim control on' "$out" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^naxsim control on' "$out"; then
  echo "naxsim did not start:"
  cat "$out"
  exit 1
fi
sim_port=$(sed -n 's/^naxsim listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$out")
pty=$(sed -n 's/^naxsim serial on \(.*\) node .*/\1/p' "$out")
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com5"

export NAXSIM_PORT=$sim_port
export NAXSIM_CONTROL=$control_port
export NAXSIM_COM=COM5
export NAXSIM_COM_LINK=$WINEPREFIX/dosdevices/com5
export NAXSIM_LISTEN_PORT=$(free_port)
export NAXSIM_FREE_PORT=$(free_port)
echo "naxsim on 127.0.0.1:$sim_port, COM5 -> $pty, control on $control_port"

failed=()
for exe in ${NAX_WINE_ONLY:-nax_abi_c nax_unit_tests nax_dll_e2e}; do
  echo "=== $exe.exe under Wine ==="
  wine "$bin/$exe.exe" || failed+=("$exe")
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED under Wine: ${failed[*]}"
  exit 1
fi
