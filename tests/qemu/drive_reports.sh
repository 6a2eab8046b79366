# Sourced by the QEMU runners: drive reports that `tvx probe` wrote in the guest (report_out.sh)
# travel out on the console as base64 between markers; each is kept in the source tree as test data and a
# fresh one must match the kept one, apart from what legitimately changes between runs (times,
# the library's version). TVX_REFRESH_REPORTS=1 writes the fresh report over the kept one.

# On the host: the report NAME from a console log into a file.
#   extract_report LOG NAME FILE
extract_report() {
    tr -d '\r' < "$1" |
        awk -v n="$2" '$0 == "REPORT-BEGIN " n {on = 1; next} $0 == "REPORT-END " n {on = 0} on' |
        base64 -d > "$3" 2>/dev/null && [ -s "$3" ]
}

# What may differ between two probes of one drive.
normalized_report() {
    sed -E -e 's/"ms":[0-9]+//g' -e 's/"duration":[0-9]+//g' \
        -e 's/"libraryVersion":\[[0-9]+,[0-9]+\]//' "$1"
}

# Compares a fresh report with the kept one; prints PASS or FAIL lines.
#   check_report FRESH KEPT
check_report() {
    local fresh=$1 kept=$2 name
    name=$(basename "$kept" .json)
    if [ "${TVX_REFRESH_REPORTS:-0}" = 1 ] || [ ! -f "$kept" ]; then
        cp "$fresh" "$kept" && echo "PASS report $name: kept as $kept"
    elif diff <(normalized_report "$kept") <(normalized_report "$fresh") > "$fresh.diff"; then
        echo "PASS report $name: the drive answers as its kept report says"
    else
        echo "FAIL report $name: the drive answers otherwise than its kept report" \
            "(TVX_REFRESH_REPORTS=1 keeps the new one): $(head -c 600 "$fresh.diff")"
        return 1
    fi
}
