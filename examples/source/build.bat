@echo off
rem Assembles the three modules of this code set.
cd game
q3asm -f game
cd ..\cgame
q3asm -f cgame
cd ..\ui
q3asm -f ui
