# What the benchmark scripts share, sourced inside the test desktop.

# A fresh home, settings and runtime folder below `work`, so each program
# started by a bench is a first start with the bench's own settings.
private_home() { # work
    export HOME=$1/home XDG_CONFIG_HOME=$1/config XDG_RUNTIME_DIR=$1/runtime
    mkdir -p "$HOME/shots" "$XDG_CONFIG_HOME/Dastrane" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

program_socket() { echo "$XDG_RUNTIME_DIR/vorantu/TFrmVorantu"; }

# Starts the program; its process id goes to the variable named `pid_var`,
# and it answers on its socket by the time this returns (at most 10 s).
start_program() { # pid_var
    "$build/bin/vorantu" /start &
    printf -v "$1" '%s' "$!"
    local socket
    socket=$(program_socket)
    for _ in $(seq 100); do [[ -S $socket ]] && return 0; sleep 0.1; done
    echo "bench: the program did not answer on $socket" >&2
    return 1
}

# Asks the program to quit and waits for it.
quit_program() { # pid
    printf 'WM_USER 2\n' | socat -t 5 - "UNIX-CONNECT:$(program_socket)" >/dev/null || true
    wait "$1" || true
}

# The capture command; it answers once the file is written.
capture() {
    printf 'WM_COPYDATA 1\n{"command":"capture"}' | socat -t 30 - "UNIX-CONNECT:$(program_socket)" >/dev/null
}

ms() { # command... : prints its whole-process time in milliseconds
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s%N)
    echo "$(((t1 - t0) / 1000))" | awk '{printf "%.3f\n", $1 / 1000}'
}

median() { sort -n "$1" | awk '{a[NR]=$1} END {print (NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2}'; }

pngsize() { python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"; }
