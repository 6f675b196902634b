 Spectrum file        : ?SPCF
 Sample title         : ?TITL
 Sample number        : ?SAMN
 Sample ID            : ?SIDE
 Sample type          : ?STYP
 Location             : ?SLOC
 Analysed by          : ?USER
 Sample size          : ?SAMS
 Correction factor    : ?CFAC
 Sampling uncertainty : ?SAMU %
 Sampled              : ?DSAM       at ?TSAM
 Counted              : ?DCOL       at ?TCOL
 Saved                : ?DSAV       at ?TSAV
 Decay interval       : ?DCYD  days ?DCYM minutes
 Live time            : ?LTIM   s     Real time : ?TTIM   s     Dead time : ?DTIM  %
 Detector             : ?DETN       Geometry : ?GEON       MCA : ?MCAN       ADC : ?ADCN
 Detector description : ?DETD
 Geometry description : ?GEOD
 Detector file        : ?DETF
 Energy calibration   : ?DENC       at ?TENC
 Shape calibration    : ?DSHP       at ?TSHP
 Efficiency curve     : ?DEFC       at ?TEFC
 Calibration uncert.  : ?CALU %
 Background spectrum  : ?BKGS
