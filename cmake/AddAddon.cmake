# add_addon(<Deliverable>
#           SOURCES <file>...              the add-on's own sources
#           FILTERS <display name>...      the names filterInit(0), (1), … give after load
#           [ICON_LARGE <art> ICON_SMALL <art>]   32 × 32 and 16 × 16 icon art
#           [APP_INFO]                     also carry the application flags, version and signature
#           [LIBRARIES <target>...])       further libraries to link
#
# Builds one add-on file, <output dir>/<Deliverable>, that the host loads with
# dlopen and that also runs as a program showing the add-on's alert. Its
# resources are attached after linking: the platform's (file type, icons,
# application information) and the host's: the ABI stamp that the entry unit
# measured with this add-on's compiler, flags and headers, and the FILTERS
# names in index order, so that a host can check and list the add-on without
# loading it. The target is addon-<Deliverable>.
include_guard(GLOBAL)

function(add_addon deliverable)
  cmake_parse_arguments(PARSE_ARGV 1 A "APP_INFO" "ICON_LARGE;ICON_SMALL" "SOURCES;FILTERS;LIBRARIES")
  if(A_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "add_addon(${deliverable}): unknown arguments: ${A_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT deliverable MATCHES "^[A-Za-z][A-Za-z0-9_]*$")
    message(FATAL_ERROR "add_addon: '${deliverable}' is not a valid add-on name (letters, digits, _)")
  endif()
  if(NOT A_SOURCES)
    message(FATAL_ERROR "add_addon(${deliverable}): SOURCES is empty")
  endif()
  if(NOT A_FILTERS)
    message(FATAL_ERROR "add_addon(${deliverable}): FILTERS is empty; list the filters' display names in index order")
  endif()
  if((A_ICON_LARGE AND NOT A_ICON_SMALL) OR (A_ICON_SMALL AND NOT A_ICON_LARGE))
    message(FATAL_ERROR "add_addon(${deliverable}): ICON_LARGE and ICON_SMALL go together")
  endif()
  if(NOT DEFINED TW_ADDON_ENTRY_SOURCE)
    message(FATAL_ERROR "add_addon: TW_ADDON_ENTRY_SOURCE is not set (include the Tidewave package first)")
  endif()
  if(NOT DEFINED TW_ADDON_OUTPUT_DIR)
    set(TW_ADDON_OUTPUT_DIR ${CMAKE_BINARY_DIR}/add-ons)
  endif()

  set(target addon-${deliverable})
  add_library(${target} SHARED ${A_SOURCES} ${TW_ADDON_ENTRY_SOURCE})
  target_compile_definitions(${target} PRIVATE TW_ADDON_NAME="${deliverable}")
  target_link_libraries(${target} PRIVATE Tidewave::filterkit ${A_LIBRARIES})
  set_target_properties(${target} PROPERTIES
    PREFIX "" SUFFIX "" OUTPUT_NAME ${deliverable}
    LIBRARY_OUTPUT_DIRECTORY ${TW_ADDON_OUTPUT_DIR}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    INSTALL_RPATH "$ORIGIN/../..")
  # The entry point makes the file runnable; -z defs catches a missing symbol
  # at link time instead of at the host's dlopen.
  target_link_options(${target} PRIVATE -Wl,-e,tw_addon_start)
  if(NOT TW_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,-z,defs)
  endif()

  set(resource_args attach $<TARGET_FILE:${target}>)
  set(art)
  if(A_ICON_LARGE)
    get_filename_component(large ${A_ICON_LARGE} ABSOLUTE)
    get_filename_component(small ${A_ICON_SMALL} ABSOLUTE)
    list(APPEND resource_args --icon-large ${large} --icon-small ${small})
    list(APPEND art ${large} ${small})
    # A changed icon relinks the add-on, which attaches the resources again.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${large} ${small})
  endif()
  if(A_APP_INFO)
    list(APPEND resource_args --app-info)
  endif()
  foreach(filter IN LISTS A_FILTERS)
    list(APPEND resource_args --filter ${filter})
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND Tidewave::tw-resources ${resource_args}
    COMMENT "Attaching resources to add-on ${deliverable}"
    VERBATIM)

  set_property(GLOBAL APPEND PROPERTY TW_ADDONS ${deliverable})
  set_property(GLOBAL PROPERTY TW_ADDON_${deliverable}_FILTERS "${A_FILTERS}")
  set_property(GLOBAL PROPERTY TW_ADDON_${deliverable}_HAS_ICONS ${A_ICON_LARGE})
  set_property(GLOBAL PROPERTY TW_ADDON_${deliverable}_APP_INFO ${A_APP_INFO})
  if(TW_INSTALL_ADDONS)
    # Executable: an add-on file is also a program.
    install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/tidewave/add-ons
      PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endfunction()
