; The peer installer of the Wine workload of scripts/bench.sh: every *.BIN of
; the directory PAYLOAD, stored as it is (no compression), into the
; directory given at run time with /D=. The CRC check of the installer is on
; (run with /NCRC to skip it); run it silent with /S.
;
;   makensis -V2 -DPAYLOAD=DIR -DOUTFILE=FILE.EXE files.nsi

!ifndef PAYLOAD
  !error "give -DPAYLOAD=DIR"
!endif
!ifndef OUTFILE
  !error "give -DOUTFILE=FILE.EXE"
!endif

Name "bench files"
OutFile "${OUTFILE}"
SetCompress off
CRCCheck on
RequestExecutionLevel user
InstallDir "$TEMP\bench-files"

Section
  SetOutPath "$INSTDIR"
  File "${PAYLOAD}/*.BIN"
SectionEnd
