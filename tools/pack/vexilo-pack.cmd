@echo off
rem Runs vexilo-pack.jar from the folder of this file, with %JAVA_HOME%\bin\java.exe when
rem JAVA_HOME is set, else java from PATH. The exit code is the packer's.
setlocal
set "VXO_JAR=%~dp0vexilo-pack.jar"
if not exist "%VXO_JAR%" (
  echo vexilo-pack: cannot find %VXO_JAR% 1>&2
  exit /b 1
)
if defined JAVA_HOME (
  if not exist "%JAVA_HOME%\bin\java.exe" (
    echo vexilo-pack: JAVA_HOME is set but %JAVA_HOME%\bin\java.exe does not exist 1>&2
    exit /b 1
  )
  "%JAVA_HOME%\bin\java.exe" -jar "%VXO_JAR%" %*
) else (
  java -jar "%VXO_JAR%" %*
)
exit /b %ERRORLEVEL%
