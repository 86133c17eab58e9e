# Writes the driver's version text from wm_version.cpp.in at build time, with
# the time of this build: cmake -DIN=... -DOUT=... -DKAVORQIR_VERSION=... -P
string(TIMESTAMP KAVORQIR_BUILD_TIME "%Y-%m-%dT%H:%M:%S+00:00" UTC)
configure_file(${IN} ${OUT} @ONLY)
