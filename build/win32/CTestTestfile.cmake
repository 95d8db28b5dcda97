# CMake generated Testfile for 
# Source directory: /work/main
# Build directory: /work/main/build/win32
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
subdirs("platform")
subdirs("sim")
subdirs("plugin")
subdirs("host")
subdirs("tests")
