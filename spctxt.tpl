Kestrim text spectrum : ?SPCF
Title       : ?TITL
Collected   : ?DCOL       at ?TCOL
Live time   : ?LTIM   s   Real time : ?TTIM   s
Detector    : ?DETN       Geometry : ?GEON
