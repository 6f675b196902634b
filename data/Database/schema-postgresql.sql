-- Kestrim activity database: the five tables of the ODBC export (PostgreSQL).
-- Names are quoted so that they keep their case; the program matches
-- SampleInfo's column names case-sensitively and writes those it knows.
-- A table may leave out any SampleInfo column except "ID", or add columns
-- of its own (they receive their default).

CREATE TABLE "SampleInfo" (
  "Filename"         VARCHAR(32),
  "ID"               INTEGER PRIMARY KEY,
  "Version"          VARCHAR(32),
  "AnlDate"          DATE,
  "AnlTime"          TIME(0),
  "Title"            VARCHAR(48),
  "SamLocat"         VARCHAR(32),
  "SamID"            VARCHAR(16),
  "SamType"          VARCHAR(24),
  "SampleNum"        INTEGER,
  "User"             VARCHAR(24),
  "DetNum"           SMALLINT,
  "GeomNum"          SMALLINT,
  "LiveTime"         REAL,
  "TrueTime"         REAL,
  "DeadTime"         REAL,
  "SampleDate"       DATE,
  "SampleTime"       TIME(0),
  "CollectDate"      DATE,
  "CollectTime"      TIME(0),
  "SaveDate"         DATE,
  "SaveTime"         TIME(0),
  "DecayDays"        INTEGER,
  "DecayMins"        INTEGER,
  "SampleSize"       REAL,
  "SizeUnits"        VARCHAR(14),
  "GeomDesc"         VARCHAR(40),
  "DetectorFile"     SMALLINT,
  "EnergyDate"       DATE,
  "EnergyTime"       TIME(0),
  "ShapeDate"        DATE,
  "ShapeTime"        TIME(0),
  "EffDate"          DATE,
  "EffTime"          TIME(0),
  "ActivityUnits"    VARCHAR(8),
  "OrtecUnits"       VARCHAR(16),
  "CalibUncert"      REAL,
  "SampleUncert"     REAL,
  "PeaksLib"         VARCHAR(32),
  "BkgFile"          VARCHAR(32),
  "BkgDesc"          VARCHAR(48),
  "BkgDate"          DATE,
  "BkgTime"          TIME(0),
  "BkgSpec"          VARCHAR(32),
  "AnlLibrary"       VARCHAR(32),
  "LODLibrary"       VARCHAR(32),
  "EnergyTol"        REAL,
  "FitSigma"         REAL,
  "ActSigma"         REAL,
  "LODSigma"         REAL,
  "MainPeakOnly"     SMALLINT,
  "UseCalUncert"     SMALLINT,
  "AreaBySum"        SMALLINT,
  "RoundActs"        SMALLINT,
  "InterpolatedEff"  SMALLINT,
  "SampleWht"        REAL,
  "WeightUnits"      VARCHAR(8),
  "GoemCorr"         REAL,
  "GoemCorrFile"     VARCHAR(32),
  "DensCorr"         REAL
);

CREATE TABLE "Nuclides" (
  "ID"       INTEGER PRIMARY KEY,
  "Nuclide"  VARCHAR(32) NOT NULL
);

CREATE TABLE "Activities" (
  "SampleNum"   INTEGER NOT NULL REFERENCES "SampleInfo" ("ID"),
  "Nuclide"     VARCHAR(8) NOT NULL,
  "ActivityNow" REAL,
  "Activity"    REAL,
  "Uncertainty" REAL
);
CREATE INDEX "Activities_SampleNum" ON "Activities" ("SampleNum");

CREATE TABLE "Energies" (
  "ID"      INTEGER PRIMARY KEY,
  "Energy"  REAL NOT NULL
);

CREATE TABLE "PeakData" (
  "SampleNum"    INTEGER NOT NULL REFERENCES "SampleInfo" ("ID"),
  "Energy"       REAL,
  "Channel"      REAL,
  "FWHM"         REAL,
  "GammasPerSec" REAL,
  "UnCert"       REAL
);
CREATE INDEX "PeakData_SampleNum" ON "PeakData" ("SampleNum");
