	           Activity Report for Spectrum File:- ?SPCF
 Sample title         : ?TITL
 Counted              : ?DCOL       at ?TCOL
 Live time            : ?LTIM   s     Dead time : ?DTIM  %
 Nuclide library      : ?ALIB
 Energy tolerance     : ?ETOL keV
 Peak area sigma      : ?PSIG     Activity sigma : ?ASIG
 Activities in Bq at the counting date; specific activities in ?ORTE
