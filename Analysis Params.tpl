 Analysis parameters: Defaults file ?DEFN of application ?APPL
 Peak search
   Start channel                 : ?STAR
   Stop channel                  : ?STOP
   Discriminator                 : ?PKSD
   Smoothing                     : ?PKSS
   Library for the peak search   : ?PLIB
   New peaks in the residuals    : ?NPKD
   Auxiliary peaks file          : ?AUXP
 Peak fitting
   Region end channels           : ?ENDC
   Peak separation factor        : ?PKSF
   Maximum width change          : ?MAXW
   ?CONT
?ITSP    Iterative position fitting of single peaks
?ITMU    Iterative fitting of multiplets
?ITWI    Iterative width fitting
?ITTA    Iterative tailing fitting
?511D    Fitting switch 511D is on
?ASUM    Peak areas by summation
 Identification and activities
   Nuclide library               : ?ALIB
   Energy tolerance (keV)        : ?ETOL
   Minimum confidence            : ?CONF
   Peak area uncertainty sigma   : ?PSIG
   Activity uncertainty sigma    : ?ASIG
   Largest peak uncertainty (%)  : ?MAXP
   Largest activity uncert. (%)  : ?MAXA
   Dead time warning (%)         : ?MAXD
   Activity unit                 : ?ACTU
   Bq to activity unit factor    : ?ACFA
?UPPK    Only the principal peak gives the activity
?UNLP    Library-inserted peaks are always reported
?INTE    Interpolated efficiencies
?ACTR    Reported activities are rounded
?DCEN    Switch DCEN is on
?ICUN    Calibration uncertainty not included in the results
 Background
   Background file               : ?BKGF
 Limits of detection
   LOD library                   : ?LLIB
   LOD type                      : ?LODD
   LOD sigma                     : ?LSIG
   LOD check threshold (%)       : ?LODC
