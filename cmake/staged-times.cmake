# Run by CPack before it packs: every staged file takes the time of
# SOURCE_DATE_EPOCH, so that a package's bytes do not depend on when or
# where its sources were checked out.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(
    COMMAND find "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} +
    COMMAND_ERROR_IS_FATAL ANY)
endif()
