SUMMARY = "Kestrel board layer: OEM IPMI commands, board daemons, board libraries"
DESCRIPTION = "libkestrelipmi (an ipmid provider), watchkeeper, portwarden, \
boardpilot and the six board-access libraries."
LICENSE = "CLOSED"

SRC_URI = "git://git.example.com/kestrel.git;branch=main;protocol=https"
SRCREV = "${AUTOREV}"
PV = "0.1.0+git${SRCPV}"
S = "${WORKDIR}/git"

inherit meson pkgconfig systemd

DEPENDS = "boost libgpiod nlohmann-json openssl phosphor-ipmi-host \
           phosphor-logging sdbusplus systemd"

# Where ipmid loads its providers from, and where the programs read their
# configuration (a bbappend may install the board's own files there).
IPMID_PROVIDERS_DIR = "${libdir}/ipmid-providers"
WATCHKEEPER_CONFIG = "${datadir}/property-monitor/config.json"
BOARDPILOT_CONFIG = "${datadir}/platform-control/config.json"

EXTRA_OEMESON = "-Dtests=false \
                 -Dproviders_dir=${IPMID_PROVIDERS_DIR} \
                 -Dmonitor_config=${WATCHKEEPER_CONFIG} \
                 -Dplatform_config=${BOARDPILOT_CONFIG} \
                 -Dsystemd_unit_dir=${systemd_system_unitdir}"

PACKAGECONFIG ??= "watchkeeper portwarden boardpilot"
PACKAGECONFIG[watchkeeper] = "-Dwatchkeeper=true,-Dwatchkeeper=false"
PACKAGECONFIG[portwarden] = "-Dportwarden=true -Dio_uring=enabled,-Dportwarden=false -Dio_uring=disabled,liburing"
PACKAGECONFIG[boardpilot] = "-Dboardpilot=true,-Dboardpilot=false"
PACKAGECONFIG[sample-configs] = "-Dsample_configs=true,-Dsample_configs=false"
PACKAGECONFIG[config-checker] = "-Dconfig_checker=true,-Dconfig_checker=false"

# kestrel-config-check runs on the build host: the native variant is built
# for it, and the target variant checks with it the configurations it
# installs, so a wrong entry fails the build rather than the BMC.
BBCLASSEXTEND = "native"
PACKAGECONFIG:class-native = "config-checker"
# What the checker's build needs on the host; without sdbusplus,
# phosphor-logging and ipmid there, the tree builds its own stand-ins.
DEPENDS:class-native = "boost-native libgpiod-native nlohmann-json-native \
                        openssl-native systemd-native"
DEPENDS:append:class-target = " kestrel-native"
do_install:append:class-target() {
    if [ -e "${D}${WATCHKEEPER_CONFIG}" ]; then
        kestrel-config-check watchkeeper "${D}${WATCHKEEPER_CONFIG}"
    fi
    if [ -e "${D}${BOARDPILOT_CONFIG}" ]; then
        kestrel-config-check boardpilot "${D}${BOARDPILOT_CONFIG}"
    fi
}

BOARD_LIBS = "libromcell libsmbridge libregpeek librevstore libkeyshelf libsidebandcfg"
PACKAGE_BEFORE_PN = "${PN}-watchkeeper ${PN}-portwarden ${PN}-boardpilot ${PN}-config-check ${BOARD_LIBS}"

# The provider library; its unversioned link is for development only.
FILES:${PN} = "${IPMID_PROVIDERS_DIR}/libkestrelipmi.so.*"
FILES:${PN}-dev += "${IPMID_PROVIDERS_DIR}/libkestrelipmi.so"

FILES:${PN}-watchkeeper = "${sbindir}/watchkeeper ${WATCHKEEPER_CONFIG}"
FILES:${PN}-portwarden = "${sbindir}/portwarden ${libexecdir}/portwarden-epoll"
FILES:${PN}-boardpilot = "${bindir}/boardpilot ${BOARDPILOT_CONFIG}"
FILES:${PN}-config-check = "${bindir}/kestrel-config-check"
RDEPENDS:${PN}-portwarden += "iptables"

FILES:libromcell = "${libdir}/libromcell.so.*"
FILES:libsmbridge = "${libdir}/libsmbridge.so.*"
FILES:libregpeek = "${libdir}/libregpeek.so.*"
FILES:librevstore = "${libdir}/librevstore.so.*"
FILES:libkeyshelf = "${libdir}/libkeyshelf.so.*"
FILES:libsidebandcfg = "${libdir}/libsidebandcfg.so.*"

SYSTEMD_PACKAGES = "${@' '.join('${PN}-' + p for p in ['watchkeeper', 'portwarden', 'boardpilot'] if bb.utils.contains('PACKAGECONFIG', p, True, False, d))}"
SYSTEMD_SERVICE:${PN}-watchkeeper = "watchkeeper.service"
SYSTEMD_SERVICE:${PN}-portwarden = "portwarden.service"
SYSTEMD_SERVICE:${PN}-boardpilot = "boardpilot.service"
