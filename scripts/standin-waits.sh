# Waiting for the translator stand-in, for scripts that start it (sourced).

# Waits until something listens on port $1 of the loopback interface.
wait_for_port() {
    for _ in $(seq 100); do
        (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
        sleep 0.05
    done
    echo "FAILED: nothing listens on port $1" >&2
    exit 1
}

# Waits until the translator started as the local program, whose stderr goes
# to the file $1, has its window on the session bus.
wait_for_window() {
    for _ in $(seq 100); do
        grep -q 'is on the session bus' "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "FAILED: the local program's window did not appear" >&2
    exit 1
}

# How many requests the translator's --log file $1 holds.
logged_requests() { grep -ao 'POST /[^ ]* HTTP/1.0' "$1" 2>/dev/null | wc -l; }
