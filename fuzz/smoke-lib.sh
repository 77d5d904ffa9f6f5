# Sourced by each area's smoke.sh, whose arguments it reads: <build dir> [runs].
# Gives a scratch folder, fuzz_run, and the status the script exits with.
build=${1:?usage: smoke.sh <build dir> [runs]}
runs=${2:-2000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# fuzz_run <area> <name> <max_len> <seed folder>...: runs fuzz_<name> of the area for $runs runs
# over its seeds; a missing or failing target sets status to 1.
fuzz_run() {
    area=$1 name=$2 max_len=$3
    shift 3
    bin="$build/fuzz/$area/fuzz_$name"
    if [ ! -x "$bin" ]; then
        echo "missing $bin" >&2
        status=1
        return 0
    fi
    mkdir -p "$work/$name"
    echo "== fuzz_$name: $runs runs"
    # New inputs go to the scratch folder (the first one); the seeds stay untouched.
    if ! "$bin" -runs="$runs" -max_len="$max_len" -timeout=10 "$work/$name" "$@" \
        > "$work/$name.log" 2>&1; then
        tail -n 40 "$work/$name.log" >&2
        status=1
    else
        tail -n 1 "$work/$name.log"
    fi
}
