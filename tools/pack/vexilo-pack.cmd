@echo off
rem Runs vexilo-pack.jar from the folder of this file, with %JAVA_HOME%\bin\java.exe when
rem JAVA_HOME is set, else java from PATH. The exit code is the packer's.
rem
rem No ( ... ) blocks on purpose: cmd expands a block's variables before it runs it, so a ")" in
rem a path (C:\Program Files (x86)\...) would end the block early. Plain lines and goto instead,
rem and every path in quotes (which also keeps "&" in a folder name literal).
setlocal
set "VXO_JAR=%~dp0vexilo-pack.jar"
if exist "%VXO_JAR%" goto have_jar
echo vexilo-pack: cannot find "%VXO_JAR%" 1>&2
exit /b 1

:have_jar
if not defined JAVA_HOME goto java_from_path
rem A JAVA_HOME set with quotes around it would double them below.
set "VXO_JAVA_HOME=%JAVA_HOME:"=%"
if exist "%VXO_JAVA_HOME%\bin\java.exe" goto java_from_home
echo vexilo-pack: JAVA_HOME is set but "%VXO_JAVA_HOME%\bin\java.exe" does not exist 1>&2
exit /b 1

:java_from_home
"%VXO_JAVA_HOME%\bin\java.exe" -jar "%VXO_JAR%" %*
exit /b %ERRORLEVEL%

:java_from_path
java -jar "%VXO_JAR%" %*
exit /b %ERRORLEVEL%
