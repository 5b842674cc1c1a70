# The Ansible collection corvane.wine (ansible/): built with ansible-galaxy into a
# tarball, installed from it into ansible/collections/ of the build folder (where the
# ansible test finds it), and from there by the package into
# /usr/share/ansible/collections/, where Debian's Ansible looks.
find_program(ANSIBLE_GALAXY ansible-galaxy)
set(CORVANE_COLLECTIONS ${CMAKE_BINARY_DIR}/ansible/collections)
if(NOT ANSIBLE_GALAXY)
  message(WARNING "ansible-galaxy not found (scripts/bootstrap installs ansible-core): "
                  "no Ansible collection is built or packaged")
  return()
endif()

set(source ${PROJECT_SOURCE_DIR}/ansible)
file(STRINGS ${source}/galaxy.yml version_line REGEX "^version:")
if(NOT version_line STREQUAL "version: ${PROJECT_VERSION}")
  message(FATAL_ERROR "ansible/galaxy.yml has \"${version_line}\"; the project is ${PROJECT_VERSION}")
endif()
file(GLOB_RECURSE collection_files CONFIGURE_DEPENDS ${source}/*)
list(FILTER collection_files EXCLUDE REGEX "(__pycache__|\\.pyc$)")
set(tarball ${CMAKE_BINARY_DIR}/ansible/corvane-wine-${PROJECT_VERSION}.tar.gz)
set(installed ${CORVANE_COLLECTIONS}/ansible_collections/corvane/wine)
add_custom_command(
  OUTPUT ${installed}/MANIFEST.json
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${installed}
  COMMAND ${ANSIBLE_GALAXY} collection build ${source} --output-path ${CMAKE_BINARY_DIR}/ansible
          --force
  COMMAND ${ANSIBLE_GALAXY} collection install --offline --force -p ${CORVANE_COLLECTIONS}
          ${tarball}
  DEPENDS ${collection_files}
  COMMENT "Building the Ansible collection corvane.wine"
  VERBATIM)
add_custom_target(ansible_collection ALL DEPENDS ${installed}/MANIFEST.json)
install(DIRECTORY ${installed}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/ansible/collections/ansible_collections/corvane)
