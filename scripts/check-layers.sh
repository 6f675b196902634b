#!/bin/sh
# Fails when a source file includes a header of a higher layer.
#   platform -> spectrum -> settings -> peaks -> nuclides -> calibration
#   -> reports -> app; acquisition sits on settings, reference on peaks;
#   database (the ODBC activity database) on reports, used by the front end.
# The build enforces the same through each library's include root; this
# check says it without building and names every offending line.
cd "$(dirname "$0")/.."
allowed() {
  case "$1" in
    platform)    echo "platform" ;;
    spectrum)    echo "platform spectrum" ;;
    settings)    echo "platform spectrum settings" ;;
    peaks)       echo "platform spectrum settings peaks" ;;
    nuclides)    echo "platform spectrum settings peaks nuclides" ;;
    calibration) echo "platform spectrum settings acquisition peaks nuclides calibration" ;;
    acquisition) echo "platform spectrum settings acquisition" ;;
    reference)   echo "platform spectrum settings peaks reference" ;;
    reports)     echo "platform spectrum settings acquisition peaks nuclides calibration reports" ;;
    database)    echo "platform spectrum settings acquisition peaks nuclides calibration reports database" ;;
    app)         echo "platform spectrum settings peaks nuclides calibration acquisition reference reports app" ;;
    *)           echo "" ;;
  esac
}
status=0
report=$(mktemp)
for dir in src/*/; do
  layer=$(basename "$dir")
  ok=$(allowed "$layer")
  if [ -z "$ok" ]; then
    echo "src/$layer: not a known layer (add it to scripts/check-layers.sh)"
    status=1
    continue
  fi
  # Every quoted include of the form "subsystem/file.h".
  grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z_]+/' "$dir" |
  while IFS= read -r line; do
    target=$(printf '%s\n' "$line" | sed -E 's/.*#[[:space:]]*include[[:space:]]+"([a-z_]+)\/.*/\1/')
    case " $ok " in
      *" $target "*) ;;
      *) echo "$line: $layer may not include $target (a higher layer)"; echo x ;;
    esac
  done
done > "$report"
if grep -q '^x$' "$report"; then
  grep -v '^x$' "$report"
  status=1
fi
rm -f "$report"
[ $status -eq 0 ] && echo "layers: every include points down"
exit $status
