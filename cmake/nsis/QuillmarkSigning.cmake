# Read by cpack (CPACK_PROJECT_CONFIG_FILE) when it packs: with a signing
# certificate in the environment (scripts/sign-windows), NSIS signs the
# uninstaller as it writes it, so that the installer carries it signed.
if(NOT "$ENV{QM_SIGN_PFX}" STREQUAL "")
  set(CPACK_QM_UNINSTALL_FINALIZE
      "!uninstfinalize '\"${CPACK_QM_BASH}\" \"${CPACK_QM_SIGN_SCRIPT}\" \"%1\"' = 0")
else()
  set(CPACK_QM_UNINSTALL_FINALIZE "; No signing certificate at packing time: unsigned.")
endif()
