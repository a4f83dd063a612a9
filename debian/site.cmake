# The settings compiled into the packaged program: edit them before building the package
# (debian/rules hands this file to CMake as its initial cache, `cmake -C`). To keep the
# registry account out of the source tree, point COLETOR_SITE at a copy kept elsewhere:
#   COLETOR_SITE=/root/coletor-site.cmake dpkg-buildpackage -us -uc -b
# The built package then holds the account too: keep it off public repositories. With the
# account empty, the package holds no secret, and each server gives the account in its
# configuration (COLLECTOR_ACCOUNT_LOGIN, COLLECTOR_ACCOUNT_PASSWORD).
set(REGISTRY_API_URL "https://api.registro.example.net/v1" CACHE STRING "")
set(PORTAL_ORIGIN "https://portal.registro.example.net" CACHE STRING "")
set(SUPPORT_EMAIL "suporte@registro.example.net" CACHE STRING "")
set(SUPPORT_PHONE "+55 11 4000-0000" CACHE STRING "")
# One line that begins with one space.
set(RIGHTS_NOTICE " Todos os direitos reservados ao fabricante." CACHE STRING "")
# The collector's own registry account.
set(REGISTRY_LOGIN "login-do-coletor" CACHE STRING "")
set(REGISTRY_PASSWORD "senha-do-coletor" CACHE STRING "")
