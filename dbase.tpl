Kestrim activity database: one line per analysed spectrum.
?DNOW ?TNOW ?SPCF ?TITL ?SAMN ?SIDE ?DSAM ?TSAM ?DCOL ?TCOL ?LTIM ?DTIM ?SAMS
?CORR ?%ERR
?ACTS
K-40
Cs-137
Cs-134
I-131
Ra-226
Th-228
Am-241
?GPSD
609.3
1460.8
?UNID
