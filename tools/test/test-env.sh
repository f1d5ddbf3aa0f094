# Shared settings of the Wine test environment; sourced, not run.

movora_test_env_export() {
    export MOVORA_TEST_RUN_DIR="${MOVORA_TEST_RUN_DIR:-/tmp/movora-test-$(id -u)}"
    export WINEPREFIX="$MOVORA_TEST_RUN_DIR/wineprefix"
    # Wine maps Desktop, Documents and the like into $HOME: keep it inside the run.
    export HOME="$MOVORA_TEST_RUN_DIR/home"
    export WINEDEBUG="${WINEDEBUG:--all}"
    # No Mono/Gecko prompts, no .desktop files for shortcuts.
    # MOVORA_EXTRA_DLLOVERRIDES adds entries for one test (the planting test
    # makes Wine prefer DLLs found next to a program, as Windows would for
    # names that are not known DLLs); Wine reads this from the host
    # environment only, so it has to be set before wine starts the test.
    export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d${MOVORA_EXTRA_DLLOVERRIDES:+;$MOVORA_EXTRA_DLLOVERRIDES}"
    export WINEARCH=win64
    mkdir -p "$HOME"
}

# Creates the prefix once per run (about 7 s); later calls return at once.
movora_test_prepare_prefix() {
    [ -f "$WINEPREFIX/.movora-ready" ] && return 0
    mkdir -p "$MOVORA_TEST_RUN_DIR"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.movora-ready" ]; then
            wineboot --init >/dev/null 2>&1 || true
            wineserver -w
            touch "$WINEPREFIX/.movora-ready"
        fi
    ) 9>"$MOVORA_TEST_RUN_DIR/.prefix.lock"
}
