#!/bin/sh
# Makes the pictures of the desktop program for README.md and the docs
# (docs/images/): the main window with the fitted example spectrum, the
# log scale with the identified nuclides' lines, the report viewer, the
# set-up dialog, the file lists and editors (spectrum list, Defaults
# list, background list, detector-file editor, geometry dialog), and for
# the user guide (docs/user-guide.md) the calibration windows (the worked
# calibration of data/examples/calibration), the library editor, the help
# window and the reference-spectrum list.
# Runs the built program on the offscreen platform in a scratch working
# folder, with the shipped Defaults and libraries.
#   sh scripts/screenshots.sh [BUILD_DIR]
set -e
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
program="$build/kestrim-desktop"
if [ ! -x "$program" ]; then
    echo "screenshots: $program is not built (cmake --build $build --target kestrim-desktop)" >&2
    exit 1
fi
images="$root/docs/images"
mkdir -p "$images"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/work" "$work/user"
cat > "$work/script.txt" <<SCRIPT
size 1100 760
open $root/data/examples/example-nai.dat
full_analysis
show_residuals
peak_list
show peak 4
screenshot $images/desktop-main-window.png
show_residuals
scale_log
show_nuclides
nuclide_list
expand
screenshot $images/desktop-log-nuclides.png
main_report
screenshot $images/desktop-report-viewer.png
screenshot_setup $images/desktop-setup-dialog.png
list_spectra
spectra folder $root/data/examples
spectra select all
spectra screenshot $images/desktop-spectrum-list.png
spectra close
list_defaults
defaults screenshot $images/desktop-defaults-list.png
defaults close
analyse_save_background
background ok example
open_background
background screenshot $images/desktop-background-list.png
background close
edit_detector_file
detector screenshot $images/desktop-detector-editor.png
detector close
choose_geometry
geometry screenshot $images/desktop-geometry-dialog.png
geometry close
new
open $work/work/mixed-source.dat
file mixed.enc
energy_calibration
act fit_peaks
file mixed.enc
act read
act_screenshot $images/calibration-energy.png
act ok
file mixed.shp
shape_calibration
act fit_all
act_screenshot $images/calibration-shape.png
act ok
efficiency_calibration
file mixed.efc
act read
act fit
act_screenshot $images/calibration-efficiency.png
file $work/work/Det_01.cal
act ok
auto_recalibration
act_screenshot $images/calibration-auto.png
act cancel
quan_auto_cal
act_screenshot $images/calibration-quantitative.png
act cancel
edit_library
lib select 3
window_screenshot library $images/library-editor.png
key F1 library
window_screenshot help $images/help-window.png
answer 7
open $root/data/examples/example-nai.dat
param mca_variant 1
param calibration_dir $work/work
181
text Example
text 1000
text 2.0
file $work/work/example
save_reference
answer 7
select_reference
references select 0
references screenshot $images/desktop-reference-list.png
references close
SCRIPT
cp "$root/data/examples/calibration/mixed-source.dat" "$root/data/examples/calibration/mixed.enc" \
    "$root/data/examples/calibration/mixed.shp" "$root/data/examples/calibration/mixed.efc" "$work/work/"
cd "$work/work"
QT_QPA_PLATFORM=offscreen XDG_DATA_HOME="$work/user" KESTRIM_HOME="$root/$build/share/kestrim" \
    "$root/$program" --script "$work/script.txt" --transcript "$work/transcript.txt"
grep '^screenshot' "$work/transcript.txt"
