@echo off
rem Builds the three modules of this code set with the game's compiler (lcc)
rem and assembler (q3asm), as the game's own scripts do: each in a vm folder
rem of its own, from where the command files' entries resolve. The modules
rem land in the mod's vm folder that each command file names.
set cc=lcc -DQ3_VM -S -Wf-target=bytecode -Wf-g -I..\..\cgame -I..\..\game -I..\..\ui -I.
cd /d "%~dp0game"
if not exist vm mkdir vm
cd vm
%cc% ..\g_main.c
if errorlevel 1 goto quit
q3asm -f ..\game
cd /d "%~dp0cgame"
if not exist vm mkdir vm
cd vm
%cc% -DCGAME ..\cg_main.c
if errorlevel 1 goto quit
q3asm -f ..\cgame
cd /d "%~dp0ui"
if not exist vm mkdir vm
cd vm
%cc% -DMISSIONPACK ..\ui_main.c
if errorlevel 1 goto quit
q3asm -f ..\ui
:quit
cd /d "%~dp0"
