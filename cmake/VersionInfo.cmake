# Version information embedded in the program file.
#
# clavora_embed_version_info(<target>)
# Builds the mkversioninfo tool (once), has it write the target's version block as a C++ source that lands in the
# ".vsinfo" section, and compiles that source into the target. The numbers come from the project version (build
# number 0). The section is allocated, read-only data, so neither linking nor stripping removes it.

set(CLAVORA_VERSIONINFO_TOOL_SOURCE ${CMAKE_CURRENT_LIST_DIR}/../tools/mkversioninfo.cpp)

function(clavora_embed_version_info target)
    if(NOT TARGET clavora_mkversioninfo)
        add_executable(clavora_mkversioninfo ${CLAVORA_VERSIONINFO_TOOL_SOURCE})
        target_include_directories(clavora_mkversioninfo PRIVATE ${CMAKE_SOURCE_DIR})
        set_target_properties(clavora_mkversioninfo PROPERTIES
            OUTPUT_NAME mkversioninfo RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
    endif()

    set(major ${PROJECT_VERSION_MAJOR})
    set(minor ${PROJECT_VERSION_MINOR})
    set(patch ${PROJECT_VERSION_PATCH})
    foreach(part major minor patch)
        if("${${part}}" STREQUAL "")
            set(${part} 0)
        endif()
    endforeach()
    set(version ${major}.${minor}.${patch}.0)
    set(productVersion ${major}.${minor}.${patch})

    set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}_versioninfo.cpp)
    add_custom_command(OUTPUT ${output}
        COMMAND clavora_mkversioninfo ${output} ${version} ${productVersion}
            "CompanyName=Zemtrak"
            "FileDescription=Clavora keyboard soundboard"
            "FileVersion=${version}"
            "InternalName=$<TARGET_FILE_BASE_NAME:${target}>"
            "LegalCopyright=Copyright © 2026 Zemtrak"
            "OriginalFilename=$<TARGET_FILE_NAME:${target}>"
            "ProductName=Clavora"
            "ProductVersion=${productVersion}"
            "Comments=Plays sounds from the keyboard"
        DEPENDS clavora_mkversioninfo
        COMMENT "Writing the version information of ${target}"
        VERBATIM)
    target_sources(${target} PRIVATE ${output})
endfunction()
