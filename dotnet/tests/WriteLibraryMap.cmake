# Writes a Mono library map that sends the binding's calls for the camera library to TARGET.
file(WRITE ${OUT} "<configuration>\n  <dllmap dll=\"QorCam\" target=\"${TARGET}\" />\n</configuration>\n")
