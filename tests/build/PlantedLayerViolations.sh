#!/usr/bin/env bash
# Both layer checks must fail on a planted violation, and pass on the tree as it is.
#
#   PlantedLayerViolations.sh includes <source folder>
#       copies the library's folders and scripts/check-layers to a temporary folder and plants an
#       include of a higher layer, plainly and through "..";
#   PlantedLayerViolations.sh links <source folder> <build folder> <compiler>
#       runs scripts/check-link-layers on the build's layer objects, with an object planted in
#       transmitter/'s that calls a function of startup/.
set -euo pipefail
mode=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# Runs a check that must fail, and its complaint must name what is given.
expect_violation() {
    local name=$1 needle=$2
    shift 2
    if "$@" >"$work/out" 2>&1; then
        cat "$work/out" >&2
        fail "$name: the check passed"
    fi
    grep -qF -- "$needle" "$work/out" || { cat "$work/out" >&2; fail "$name: no mention of $needle"; }
    echo "ok: $name"
}

case $mode in
includes)
    tree=$work/tree
    mkdir -p "$tree/scripts"
    cp "$source_dir/scripts/check-layers" "$tree/scripts/"
    for folder in foundation platform transmitter engine documents logwriter startup; do
        cp -r "$source_dir/$folder" "$tree/"
    done
    "$tree/scripts/check-layers" >/dev/null || fail "the tree as it is does not pass"
    echo ok: the tree passes

    # Three at once, each of which the complaint must name: a plain include of a higher layer,
    # one through "..", and a relative one.
    echo '#include "startup/OptionBagTranslation.h"' >"$tree/transmitter/Planted.cpp"
    echo '#include "platform/../engine/SolrTransmitterThread.h"' >"$tree/platform/Planted.cpp"
    echo '#include "../startup/OptionBagTranslation.h"' >"$tree/logwriter/Planted.h"
    if "$tree/scripts/check-layers" >"$work/out" 2>&1; then
        cat "$work/out" >&2
        fail "the check passed the planted includes"
    fi
    for planted in transmitter/Planted.cpp platform/Planted.cpp logwriter/Planted.h; do
        grep -qF "$planted" "$work/out" || { cat "$work/out" >&2; fail "$planted not named"; }
        echo "ok: $planted named"
    done
    ;;
links)
    build_dir=$3
    compiler=$4
    objects=$work/build/CMakeFiles
    mkdir -p "$objects"
    for layer in foundation transmitter engine documents logwriter startup; do
        mkdir -p "$objects/idx_$layer.dir"
        cp -r "$build_dir/CMakeFiles/idx_$layer.dir/." "$objects/idx_$layer.dir/"
    done
    "$source_dir/scripts/check-link-layers" "$work/build" >/dev/null ||
        fail "the objects as they are do not pass"
    echo ok: the objects pass

    printf '%s\n' '#include "startup/TransmitterAssemblyRegistration.h"' \
        'void PlantedCall() { RegisterTransmitterAssembly(); }' >"$work/Planted.cpp"
    "$compiler" -std=c++17 -I"$source_dir" -c "$work/Planted.cpp" \
        -o "$objects/idx_transmitter.dir/Planted.cpp.o"
    expect_violation "transmitter/ calls startup/" "RegisterTransmitterAssembly()" \
        "$source_dir/scripts/check-link-layers" "$work/build"
    ;;
*)
    fail "unknown mode $mode"
    ;;
esac
