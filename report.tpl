 Spectrum file        : ?SPCF
 Sample title         : ?TITL
 Sample number        : ?SAMN
 Sample ID            : ?SIDE
 Sample type          : ?STYP
 Location             : ?SLOC
 Analysed by          : ?USER
 Sample size          : ?SAMS
 Sampling uncertainty : ?SAMU %
 Sampled              : ?DSAM       at ?TSAM
 Counted              : ?DCOL       at ?TCOL
 Decay interval       : ?DCYD  days ?DCYM minutes
 Live time            : ?LTIM   s     Real time : ?TTIM   s     Dead time : ?DTIM  %

 Detector             : ?DETN       Geometry : ?GEON       MCA : ?MCAN
 Geometry description : ?GEOD
 Detector file        : ?DETF
?SPCC Calibration          : stored with the spectrum
 Energy calibration   : ?DENC       at ?TENC
 Shape calibration    : ?DSHP       at ?TSHP
 Efficiency curve     : ?DEFC       at ?TEFC
 Calibration uncert.  : ?CALU %
?ICUN (the calibration uncertainty is not included in the activity uncertainties)
 Background spectrum  : ?BTTL
 Background counted   : ?BKGD       at ?BKGT        for ?BKGL  s
 Gain correction      : ?GCOR            channels
 Nuclide library      : ?ALIB
?SPEC

 Total spectrum fit with reference spectra
?SPEC

 Reference        Activity     Uncert.  Factor     Shift
                  (Bq)         (%)
?ACTS
 %-15s  %11.3e  %5.1f    %9.4f  %7.4f

 Kestrim ?VERS
 Report made on      : ?DNOW       at ?TNOW
?END 

 Nuclide   Confidence  Activity    Uncert.  Specific activity, decay corrected
                       (Bq)        (%)      (per unit of sample, decay corrected to sampling)
?ACTS
 %-9s  %5.2f   %11.3e   %5.1f    %11.3e +/- %9.2e
 Specific activities are given in ?ORTE

?UNPK Some peaks were not identified: see the Activity Report.

 Peaks used for each nuclide
 Nuclide    Energy   Library  Yield    Net area     Uncert.  Activity
                     (keV)    (%)      (counts)     (%)      (Bq)
?CUST
ISO        ENE      REF      YIE      ARE          %UN      ACT
%-9s %8.2f %8.2f %7.2f %12.0f %7.1f %11.3e

?LODR Limits of detection (the LOD library's nuclides)
 Limit type           : ?LODD
 Nuclide   Limit (?ORTE           )   Decay corrected
?LODS
 %-9s  < %11.3e                  < %11.3e

 Kestrim ?VERS
 Report made on      : ?DNOW       at ?TNOW
