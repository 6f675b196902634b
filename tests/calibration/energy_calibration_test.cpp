// The energy calibration: list files, set-up, the fits and the report.
#include "calibration/energy_calibration.h"

#include <gtest/gtest.h>

#include <cmath>

#include "cal_fixture.h"

namespace kestrim {
namespace {

using test::CalSession;

TEST(EnergyListFile, ReadsEnergiesAfterTwoLinesAndSkipsText) {
  ListFile f = parse_list_file("Energies Used for Energy Calibration\r\n\r\n  59.541\r\nnote\r\n 661.657\r\n");
  EXPECT_FALSE(f.coefficients);
  ASSERT_EQ(f.energies.size(), 2u);
  EXPECT_NEAR(f.energies[0], 59.541, 1e-4);
  EXPECT_NEAR(f.energies[1], 661.657, 1e-4);
}

TEST(EnergyListFile, SecondLineIsSkippedEvenWhenItHoldsANumber) {
  ListFile f = parse_list_file("title\n100\n200\n");
  ASSERT_EQ(f.energies.size(), 1u);
  EXPECT_EQ(f.energies[0], 200);
}

TEST(EnergyListFile, WriterGivesTheDocumentedBytes) {
  EXPECT_EQ(format_list_file(kEnergyListTitle, {59.5409, 0, -3, 1332.492}),
            "Energies Used for Energy Calibration\r\n\r\n  59.541\r\n1332.492\r\n");
}

TEST(EnergyListFile, MoreThanHundredEnergiesAreCut) {
  std::string text = "t\r\n\r\n";
  for (int i = 1; i <= 105; ++i) text += std::to_string(i * 10) + "\r\n";
  ListFile f = parse_list_file(text);
  EXPECT_EQ(f.energies.size(), 100u);
  EXPECT_TRUE(f.truncated);
}

TEST(EnergyListFile, CoefficientFormInAnyCase) {
  ListFile f = parse_list_file("COEFFICIENTS: 1.5 2.25\r\n");
  EXPECT_TRUE(f.coefficients);
  EXPECT_DOUBLE_EQ(f.c[0], 1.5);
  EXPECT_DOUBLE_EQ(f.c[1], 2.25);
  EXPECT_DOUBLE_EQ(f.c[2], 0.0);
  EXPECT_TRUE(f.energies.empty());
}

TEST(EnergyCalibration, FewerEnergiesThanPeaksKeepsTheMostSignificant) {
  CalSession s;
  s.add_peak(100, 50);
  s.add_peak(200, 5);   // the least significant: dropped
  s.add_peak(300, 40);
  s.add_peak(500, 60);
  s.write_work("mix.enc", format_list_file(kEnergyListTitle, {200, 600, 1000}));
  EnergyCalibration ec;
  ec.batch = true;
  ec.list.default_list = "mix";
  EXPECT_EQ(setup_energy_points(s.state, ec, true), SetupResult::kCalibrated);
  ASSERT_EQ(ec.list.count(), 3);
  EXPECT_EQ(ec.list.points[0].peak, 1);
  EXPECT_EQ(ec.list.points[1].peak, 3);
  EXPECT_EQ(ec.list.points[2].peak, 4);
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.energy_terms, 3);
  EXPECT_NEAR(cal.energy[0], 0, 1e-3);
  EXPECT_NEAR(cal.energy[1], 2, 1e-5);
  EXPECT_NEAR(cal.energy[2], 0, 1e-8);
  EXPECT_EQ(cal.energy_count, 3);
  EXPECT_EQ(cal.energies[2], 1000);
  EXPECT_GT(cal.energy_date.year, 2000);
}

TEST(EnergyCalibration, MoreEnergiesThanPeaksAsksToDeleteEnergies) {
  CalSession s;
  s.add_peak(100);
  s.add_peak(300);
  s.write_work("mix.enc", format_list_file(kEnergyListTitle, {200, 400, 600, 800}));
  EnergyCalibration ec;
  ec.batch = true;
  ec.list.default_list = "mix";
  EXPECT_EQ(setup_energy_points(s.state, ec, true), SetupResult::kWaiting);
  ASSERT_FALSE(s.ui.statuses.empty());
  EXPECT_EQ(s.ui.statuses.back(), "Delete the Energies of the Peaks not found");
  std::vector<std::string> lines = energy_point_lines(s.state, ec);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "  100.0  200.00");
  EXPECT_EQ(lines[2], "         600.00  Peak not found");
  // The user deletes the energy 400 (point 1): 600 moves up beside peak 2.
  delete_energy(ec, 1);
  EXPECT_EQ(ec.list.points[1].energy, 600);
  EXPECT_EQ(ec.list.points[1].peak, 2);
  EXPECT_EQ(ec.list.count(), 3);
}

TEST(EnergyCalibration, OnePointIsProportionalThroughChannelZero) {
  CalSession s;
  s.add_peak(331);
  EnergyCalibration ec;
  ec.list.points.resize(1);
  ec.list.points[0].energy = 661.657;
  ec.list.points[0].channel = 331;
  ec.list.points[0].peak = 1;
  ASSERT_EQ(calibrate_energy(s.state, ec), 1);
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.energy_terms, 2);
  EXPECT_EQ(cal.energy[0], 0);
  EXPECT_FLOAT_EQ(cal.energy[1], static_cast<float>(661.657 / 331));
}

TEST(EnergyCalibration, CoefficientListCalibratesWithoutPeaks) {
  CalSession s;
  // The first line is read as one word and three numbers.
  s.write_work("coef.enc", "Coefficients 1.5 2.0 0.001\r\n");
  EnergyCalibration ec;
  ec.batch = true;
  ec.list.default_list = "coef";
  EXPECT_EQ(setup_energy_points(s.state, ec, true), SetupResult::kCoefficients);
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.energy_terms, 3);
  EXPECT_FLOAT_EQ(cal.energy[2], 0.001f);
  EXPECT_EQ(cal.energy_count, 0);
  EXPECT_TRUE(ec.closed);
  ASSERT_EQ(s.ui.messages.size(), 1u);
  EXPECT_EQ(s.ui.messages[0].text,
            "Calibrated using Coefficients found in file:- " + s.dir.file("work/coef.enc"));
}

TEST(EnergyCalibration, LogFunctionIsFittedUnweighted) {
  CalSession s;
  EnergyCalibration ec;
  ec.list.choice = CalPointList::Choice::kLog;
  for (double ch : {50.0, 120.0, 400.0, 700.0, 900.0}) {
    CalPoint p;
    p.channel = ch;
    p.energy = 5 + 2 * ch + 10 * std::log(ch);
    p.peak = 1;
    p.weight = ch;  // ignored by the log fit
    ec.list.points.push_back(p);
  }
  ASSERT_EQ(calibrate_energy(s.state, ec), 1);
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.energy_form, 1);
  EXPECT_NEAR(cal.energy[0], 5, 1e-3);
  EXPECT_NEAR(cal.energy[1], 2, 1e-5);
  EXPECT_NEAR(cal.energy[2], 10, 1e-3);
  EXPECT_NEAR(channel_to_energy(cal, 300), 5 + 600 + 10 * std::log(300.0), 1e-3);
}

CalPoint point(double energy, double channel, int peak) {
  CalPoint p;
  p.energy = energy;
  p.channel = channel;
  p.peak = peak;
  return p;
}

TEST(EnergyCalibration, PointsWithoutChannelOrEnergyAreLeftOutExceptTheFirst) {
  CalSession s;
  EnergyCalibration ec;
  ec.list.choice = CalPointList::Choice::kFirstOrder;
  // Usable: (E 100, ch 100) and (E 200, ch 200), a line E = ch; the point
  // without an energy and the one without a channel would bend it.
  ec.list.points = {point(100, 100, 1), point(200, 200, 2), point(0, 300, 3), point(400, 0, 0)};
  ASSERT_EQ(calibrate_energy(s.state, ec), 1);
  EXPECT_NEAR(s.state.spectrum.calibration.energy[0], 0.0, 1e-4);
  EXPECT_NEAR(s.state.spectrum.calibration.energy[1], 1.0, 1e-6);
  // The same list with the first point lacking its energy still uses it.
  ec.list.points[0].energy = 0;
  ec.list.points[1].energy = 200;
  ec.list.points[2].energy = 300;
  ASSERT_EQ(calibrate_energy(s.state, ec), 1);
  EXPECT_NE(s.state.spectrum.calibration.energy[1], 1.0f);
}

TEST(EnergyCalibration, CancelRestoresRecordAndList) {
  CalSession s;
  s.linear_calibration(1, 3);
  s.add_peak(100);
  s.add_peak(200);
  EnergyCalibration ec;
  s.write_work("two.enc", format_list_file(kEnergyListTitle, {100, 200}));
  FileDialog chosen;
  chosen.paths = {s.dir.file("work/two.enc")};
  s.ui.open_results.push_back(chosen);
  EXPECT_EQ(start_energy_calibration(s.state, ec), SetupResult::kCalibrated);
  EXPECT_NEAR(s.state.spectrum.calibration.energy[1], 1.0, 1e-6);
  EXPECT_EQ(energy_cancel(s.state, ec), 1);
  EXPECT_EQ(s.state.spectrum.calibration.energy[1], 3);
  EXPECT_EQ(ec.list.count(), 0);
  EXPECT_FALSE(ec.mode);
}

TEST(EnergyCalibration, AddPeakRefusesFarAndDuplicatePeaks) {
  CalSession s;
  s.add_peak(100);
  s.add_peak(600);
  EnergyCalibration ec;
  EXPECT_EQ(add_energy_peak(s.state, ec, 950), 0);
  EXPECT_TRUE(s.ui.said("There is no Peak near the cursor"));
  EXPECT_EQ(add_energy_peak(s.state, ec, 590), 1);
  EXPECT_EQ(add_energy_peak(s.state, ec, 110), 1);
  ASSERT_EQ(ec.list.count(), 2);
  EXPECT_EQ(ec.list.points[0].channel, 100);  // channel order
  EXPECT_EQ(add_energy_peak(s.state, ec, 605), 0);
  EXPECT_TRUE(s.ui.said("This Peak is already in the list"));
}

TEST(EnergyCalibration, ReportLayout) {
  CalSession s;
  EnergyCalibration ec;
  ec.list.choice = CalPointList::Choice::kFirstOrder;
  ec.list.points = {{200, 100, 1, 0, 0, 0, 0, 1, ""},
                    {401, 200, 1, 0, 0, 0, 0, 2, ""},
                    {600, 300, 1, 0, 0, 0, 0, 3, ""}};
  ASSERT_EQ(calibrate_energy(s.state, ec), 1);
  const std::string text = energy_report_text(s.state, ec, true);
  EXPECT_EQ(text.substr(0, 2 + 48), "\r\n" + std::string(48, ' '));
  // Checked by hand: the least-squares line through (100, 200), (200, 401),
  // (300, 600) is E = 1/3 + 2 ch; residuals -1/3, +2/3, -1/3.
  EXPECT_EQ(test::after_date_line(text),
            "        Energy Calibration Report for Detector number 3\r\n\r\n"
            "                Peak          Fitted      Energy\r\n"
            "         Channel    Energy    Energy    Difference\r\n\r\n"
            "           100.0    200.00    200.33      -0.33\r\n"
            "           200.0    401.00    400.33       0.67\r\n"
            "           300.0    600.00    600.33      -0.33\r\n"
            "\r\n Order of Fit used:- 2\r\n\r\n"
            " Energy =  3.3333e-01 +  2.0000e+00*ch\r\n"
            "\r\n Spectrum data file used:- cal.dat\r\n");
  EXPECT_EQ(test::after_date_line(energy_report_text(s.state, ec, false)),
            "        Energy Calibration Report for Detector number 3\r\n\r\n"
            " Energy Calibration Failed\r\n\r\n"
            "\r\n Spectrum data file used:- cal.dat\r\n");
  std::vector<std::string> lines = energy_point_lines(s.state, ec);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "  200.0  401.00  400.33  0.67");
  // Goodness: sqrt((1/9 + 4/9 + 1/9) / 3) = 0.4714.
  EXPECT_EQ(lines[3], "  4.714e-01");
}

TEST(EnergyCalibration, BatchWithoutListFailsAndReportsIt) {
  CalSession s;
  s.state.app.batch_mode = true;
  s.state.app.efficiency_source = "missing";
  s.state.spectrum.counts.assign(kMaxChannelsStored, 10.0f);
  EXPECT_EQ(batch_energy_calibration(s.state), 0);
  EXPECT_TRUE(s.ui.said("Could not open source file:- " + s.dir.file("work/missing.enc")));
  EXPECT_TRUE(s.ui.said("Calibration was not completed"));
  EXPECT_NE(s.read_work("Det_03_ene.txt").find(" Energy Calibration Failed\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kestrim
