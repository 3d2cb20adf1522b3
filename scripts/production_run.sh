# Shell helpers for a production run ("/S") on a bench, sourced by run.sh and
# the run benchmark.
#
# krv_prepare_run DIR TOOL: makes DIR the program folder of a run: a link to
# the built production tool TOOL, its settings file (the factory settings as
# the tool writes them, with every step of a run switched on), a firmware
# file and a preload folder. The caller may change settings with
# krv_set_setting DIR KEY VALUE.

krv_set_setting() {
    local settings="$1/kv_mp_Toolv0.6.ini"
    grep -q "^$2=" "$settings" || { echo "no setting $2 in $settings" >&2; return 1; }
    sed -i "s|^$2=.*|$2=$3\r|" "$settings"
}

krv_prepare_run() {
    local run=$1 tool=$2 root
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
    rm -rf "$run"
    mkdir -p "$run/preload/docs"
    ln "$tool" "$run/KRV857xVIVade" 2>/dev/null || cp "$tool" "$run/KRV857xVIVade"
    cp "$root/tests/app/golden/production_defaults.ini" "$run/kv_mp_Toolv0.6.ini"
    local fw="$run/KV_USB4_240517_80_02_01.bin"
    krv_set_setting "$run" fw_enable 1
    krv_set_setting "$run" fw_binary_name "$fw"
    krv_set_setting "$run" fw_reload 1
    krv_set_setting "$run" config_format 4
    krv_set_setting "$run" vendor_id 1A2B
    krv_set_setting "$run" USB4_VendorID 1A2B
    krv_set_setting "$run" format_enable 1
    krv_set_setting "$run" drive_label_name KRVDEMO
    krv_set_setting "$run" wr_test_enable 1
    krv_set_setting "$run" wr_test_binary_name wrtest.bin
    krv_set_setting "$run" wr_test_count 2
    krv_set_setting "$run" preload_enable 1
    krv_set_setting "$run" preload_folder_path "$run/preload"
    # The firmware file: 98,016 bytes, the version 24 05 17 80 02 01 (a PD
    # controller) at 0x204 as its name says, and six bytes before the end the
    # byte-sum signature of chip major revision 1, the KRV857x parts' (0x4B).
    fill() { head -c "$1" /dev/zero | tr '\0' '\021'; }
    { fill 516; printf '\x24\x05\x17\x80\x02\x01'; fill 97488; printf '\x4b'; fill 5; } >"$fw"
    head -c 1048576 /dev/zero | tr '\0' 'Z' >"$run/wrtest.bin"
    printf 'Preloaded by the demo run.\r\n' >"$run/preload/readme.txt"
    printf 'KRV857x\r\n' >"$run/preload/docs/about.txt"
}
