#include "declaraciones.h"

#include <stddef.h>

// The tick shares these fields with the foreground: each must be a single
// byte or halfword so that every access is one memory access.
static_assert(sizeof(stais.ctimeout_rx_frame) == 1, "tick field width");
static_assert(sizeof(stais.itimeout_tx_msg8) == 2, "tick field width");
static_assert(sizeof(sensor[0].ctimeout_datos_validos) == 1, "tick field width");
static_assert(sizeof(ktr09.iseguridad_entrada_externa_low[0]) == 2, "tick field width");
static_assert(sizeof(ktr09.itiempo_activacion_salida_digital[0]) == 2, "tick field width");
static_assert(sizeof(configuracion_ktr09.itemporizacion_entrada_externa[0]) == 2,
              "tick field width");
// The 32-bit fields of the records are 32 bits on every build.
static_assert(sizeof(configuracion_ais.llongitud_shipras[0]) == 4, "positions are 32-bit signed");
static_assert(sizeof(shipras.llatitud[0]) == 4, "positions are 32-bit signed");
static_assert(sizeof(stais.lmmsi) == 4, "MMSI is 32-bit");
static_assert(sizeof(sensor[0].lmmsi_destino_msg6) == 4, "MMSI is 32-bit");
static_assert(sizeof(stsd.lfecha_fichero) == 4, "date key is 32-bit");
static_assert(sizeof(float) == 4, "float is single precision");
// Buffer sizes other units rely on.
static_assert(sizeof(stais.cframe_tx) == 512 && sizeof(stais.cframe_rx) == 2048, "AIS buffers");
static_assert(sizeof(sensor[0].cframe_rx) == 1024 && sizeof(sensor[0].cframe_tx) == 128,
              "channel buffers");
static_assert(sizeof(ktr09.cbuffer_rx) == 32 && sizeof(bufferRx) == 140, "USB buffers");
static_assert(sizeof(sensor[0].cframe_rx_tide) == 920, "TIDELINK buffer");
static_assert(sizeof(sensor[0].iair_pressure) == 19 * 2, "pressure history");

STATION_STATE stais_t stais{};
STATION_STATE stconfiguracion_ais configuracion_ais{};
STATION_STATE stconfiguracion_ktr09 configuracion_ktr09{};
STATION_STATE stktr09 ktr09{};
STATION_STATE stshipras shipras{};
STATION_STATE stsensor sensor[2]{};
STATION_STATE stconfiguracion_sensor configuracion_sensor[2]{};
STATION_STATE strtc rtc{};
STATION_STATE stsd_t stsd{};

STATION_STATE volatile uint8_t cacciones_cada_10milisegundos;
STATION_STATE volatile uint8_t cacciones_cada_100milisegundos;
STATION_STATE volatile uint8_t cacciones_cada_segundo;
STATION_STATE volatile uint8_t cacciones_un_minuto;
STATION_STATE volatile uint8_t cretardo_tiempo;
STATION_STATE volatile uint8_t cretardo_en_milisegundos;
STATION_STATE volatile uint8_t ctimeout_eeprom;
STATION_STATE uint8_t creintentos_sd;

STATION_STATE uint32_t ultimaTramaPcRecibida;
STATION_STATE unsigned char bufferRx[140];
STATION_STATE uint8_t iBytesRx;
STATION_STATE uint32_t mTimeStamp;
STATION_STATE uint32_t mTimeOut = 3000;
STATION_STATE unsigned char vArray[150];
STATION_STATE unsigned char vSalida[150];

STATION_STATE uint32_t cardSize;
STATION_STATE uint32_t eraseSize;
STATION_STATE uint32_t cardSizeBlocks;
STATION_STATE uint32_t cardCapacityMB;
STATION_STATE uint8_t partType;
STATION_STATE uint32_t relSector;
STATION_STATE uint32_t partSize;
STATION_STATE uint8_t numberOfHeads;
STATION_STATE uint8_t sectorsPerTrack;
STATION_STATE uint16_t reservedSectors;
STATION_STATE uint8_t sectorsPerCluster;
STATION_STATE uint32_t fatStart;
STATION_STATE uint32_t fatSize;
STATION_STATE uint32_t dataStart;
STATION_STATE char noName[12] = "NO NAME    ";
STATION_STATE char fat16str[9] = "FAT16   ";
STATION_STATE char fat32str[9] = "FAT32   ";
STATION_STATE SdFat sd{};
STATION_STATE SdSpiCard card{};
STATION_STATE uint8_t cache[512];

const char m_test[] = "TEST";
const char m_settings[] = "SETTINGS";
const char m_format_sd[] = "FORMAT SD";
const char m_read_rtc[] = "READ RTC";
const char m_info_sd[] = "INFO SD";
const char m_dip[] = "DIP";
const char m_bateria[] = "BAT";
const char m_breal[] = "BREAL";
const char m_analog1[] = "ANALOG1";
const char m_analog1_real[] = "ANALOG1REAL";
const char m_analog2[] = "ANALOG2";
const char m_analog2_real[] = "ANALOG2REAL";
const char m_rs232[] = "RS232";
const char m_rs485[] = "RS485";
const char m_rs422[] = "RS422";
const char m_usb_connected[] = "USB connected";
const char m_exit_standby[] = "Exiting standby";
const char m_msg[] = "msg ";
const char m_mensaje_12[] = "TE ESTAS APROXIMANDOOOO";
const char m_comando_ms0[] = "M$0";
const char m_comando_ms1[] = "M$1";
const char m_comando_ms2[] = "M$2";
const char m_comando_ms3[] = "M$3";
const char m_comando_ms4[] = "M$4";
const char m_comando_ms5[] = "M$5";
const char m_comando_ts1[] = "T$1";
const char m_comando_ts2[] = "T$2";
const char m_comando_ts3[] = "T$3";
const char m_comando_ts4[] = "T$4";
const char m_comando_ts5[] = "T$5";
const char m_comando_ts6[] = "T$6";
const char m_cabecera_nmea_wimda[] = "$WIMDA,";
const char m_barra[] = "/";
const char m_vdm[] = "_vdm";
const char m_tidelink[] = "_tlk";
const char m_txt[] = ".txt";
const unsigned char m_filtro_trama_ais[6] = {0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

const uint32_t lvalores_decimales[10] = {1,      10,      100,      1000,      10000,
                                         100000, 1000000, 10000000, 100000000, 1000000000};
const uint32_t lvalores_hexadecimales[8] = {0x1,     0x10,     0x100,     0x1000,
                                            0x10000, 0x100000, 0x1000000, 0x10000000};
const uint32_t lpeso[32] = {1u << 0,  1u << 1,  1u << 2,  1u << 3,  1u << 4,  1u << 5,  1u << 6,
                            1u << 7,  1u << 8,  1u << 9,  1u << 10, 1u << 11, 1u << 12, 1u << 13,
                            1u << 14, 1u << 15, 1u << 16, 1u << 17, 1u << 18, 1u << 19, 1u << 20,
                            1u << 21, 1u << 22, 1u << 23, 1u << 24, 1u << 25, 1u << 26, 1u << 27,
                            1u << 28, 1u << 29, 1u << 30, 1u << 31};
const unsigned char cpeso[8] = {1, 2, 4, 8, 16, 32, 64, 128};
const unsigned char cvalores_ascii[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                          '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
const unsigned char m_meses[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
const unsigned char m_meses_bisiesto[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
