# Sourced by the guests' init: a drive report from `tvx probe` (/tvx-probe), printed on the
# console as base64 between markers for the host to take out (drive_reports.sh).
# Probes the drive into a report and prints it between the markers.
#   print_report NAME [tvx-probe options...]
print_report() {
    local name=$1
    shift
    if /tvx-probe "$@" -o /tmp/report.json 2> /tmp/report.err; then
        echo "REPORT-BEGIN $name"
        base64 /tmp/report.json
        echo "REPORT-END $name"
    else
        echo "FAIL report $name: $(cat /tmp/report.err)"
    fi
}
