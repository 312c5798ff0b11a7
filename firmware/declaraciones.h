// The station's state: every global record, scalar and constant table. All of
// them are statically allocated; the tick interrupt shares only byte and
// halfword fields with the foreground, and those are volatile so that every
// poll of a countdown reads memory.
#pragma once

#include <SdFat.h>
#include <WString.h>
#include <station_state.h>
#include <stdint.h>

// ---- AIS transponder link ---------------------------------------------------

struct stais_t {
    uint32_t llongitud_ais_msg21;
    uint32_t llatitud_ais_msg21;
    uint16_t iq;  // antenna SWR in tenths; 999 = not known
    uint8_t cextraigo;
    uint8_t calarma;
    uint8_t cseguridad_alarma;
    uint8_t creset;
    uint32_t lmmsi;  // 0xFFFFFFFF until the transponder reports it
    uint32_t lmmsi_destino_msg6;
    uint16_t ilongitud_paquete;
    uint16_t ibytes_rx;
    uint16_t ibateria;  // hundredths of a volt
    uint16_t ibytes_mensaje_a_tx;
    volatile uint16_t itimeout_tx_msg6;  // seconds, counted down by the tick
    uint16_t ifrecuencia_msg6;
    uint8_t cindice_msg6;
    uint8_t creintentos_msg6;
    uint8_t ccanal_msg6;  // 0xFF = none
    // A message 6 request went out and its report has not come: a second
    // report of the same part must not count the next one as sent.
    uint8_t cmsg6_sin_confirmar;
    uint8_t caar_mensajes;               // AAR lines heard for messages 6, 8, 12 (bits 0, 1, 2)
    uint8_t cperiodos_conocidos;         // 1 once a whole AAR answer gave the periods
    volatile uint16_t itimeout_tx_msg8;  // seconds, counted down by the tick
    uint16_t ifrecuencia_msg8;
    uint8_t cindice_msg8;
    uint8_t creintentos_msg8;
    volatile uint16_t itimeout_tx_msg12;  // seconds, counted down by the tick
    uint16_t ifrecuencia_msg12;
    uint8_t cindice_msg12;
    uint8_t creintentos_msg12;
    uint16_t idiez_milesimas_minutos_latitud;
    uint16_t idiez_milesimas_minutos_longitud;
    uint8_t cdia_utc, cmes_utc, cano_utc;
    uint8_t chora_utc, cminuto_utc, csegundo_utc;
    uint8_t cgrados_latitud, cminutos_latitud;
    uint8_t cgrados_longitud, cminutos_longitud;
    uint8_t cnorte_sur, ceste_oeste;
    uint8_t csatelites;
    uint8_t cqgps;
    uint8_t cnueva_sincronizacion_horaria;
    volatile uint8_t
        ctimeout_frame_rmc;  // seconds, counted down while a synchronisation is pending
    volatile uint8_t
        ctimeout_frame_gga;  // seconds, counted down while a synchronisation is pending
    uint8_t ccambios_bruscos_roe;
    uint8_t cesperando_respuesta;
    volatile uint8_t
        ctimeout_rx_frame;  // ms of line silence ending a frame, counted down every 1 ms
    uint8_t ccalculo_checksum_nmea;
    uint8_t cchecksum_nmea;
    uint8_t ccomando;
    uint8_t cconexion_software_pc;
    uint8_t creintentos_comando;
    volatile uint8_t ctimeout_respuesta_comando;  // tenths of a second, counted down every 100 ms
    uint8_t cstatus_gps;
    uint8_t ctipo_aton;
    uint8_t ccantidad_partes_paquete;
    uint8_t cpartes_paquete_tx;
    uint8_t ctransmitiendo_paquete;
    uint8_t cprimer_msg_21_tras_reset;
    uint8_t cbits_no_utilizados_caton_status;
    uint8_t cposition_accurasy_msg21;
    volatile uint8_t csegundos_sin_tramas_deteccion_usb;  // counted up each second, stops at 120
    volatile uint8_t csegundos_sin_tramas_gps_ais;        // counted up each second, stops at 10
    volatile uint8_t cminutos_timeout_rx_frames;          // minutes, counted down every minute
    uint8_t cresultados_configuracion;
    uint8_t cposicion_datos_msg6;
    uint8_t ccantidad_total_frames_vdm_msg6_procesando;
    uint8_t cultima_frame_vdm_msg6_procesando;
    volatile uint8_t
        ctimeout_frame_vdm_msg6_procesando;  // tenths of a second, counted down every 100 ms
    uint8_t crelleno_msg6;
    // A whole received message 6 (five slots, 1008 bits), so that the 61-byte
    // parts another station sends fit.
    unsigned char cmsg6[168];
    unsigned char cmsg[90];
    unsigned char cmsg_tx[90];
    unsigned char cnombre_ais[35];
    unsigned char cframe_tx[512];
    unsigned char cframe_rx[2048];
    char cfirmware[20];
    char csn[16];
    uint8_t cprotocolo_msg6, cprotocolo_msg8, cprotocolo_msg12;
};

struct stconfiguracion_ais {
    uint8_t ctipo_comunicacion;
    uint8_t cbaudios;
    uint8_t csalida_reset;
    uint8_t cenable_msg21;
    uint8_t cinput_light_msg21;
    uint8_t cinput_error_light_msg21;
    uint8_t cenable_shipras;
    int32_t llongitud_shipras[2];  // ten-thousandths of a minute, either order
    int32_t llatitud_shipras[2];   // ten-thousandths of a minute, either order
};

// ---- Board ------------------------------------------------------------------

struct stconfiguracion_ktr09 {
    float ftension_alarma_bateria_baja;
    float ftension_alarma_bateria_off;
    float fconversor_bateria;
    float fumbral_alarma_on[2];
    float fumbral_alarma_off[2];
    float fconversor_analogica[2];
    float ffactor_A[2];
    float ffactor_B[2];
    uint16_t ivalor_0_analogica[2];
    unsigned char ctipo_analogica[2];
    unsigned char cfuncionalidad_entradas_externas[4];  // 0 unused, 1 latched event, 2 level
    unsigned char cestado_en_reposo_entrada_externa[4];
    uint16_t itemporizacion_entrada_externa[4];  // debounce, tenths of a second
    unsigned char ctemporizador_minutos[4];
    unsigned char cestado_en_reposo_salida_digital[4];
    uint16_t itemporizacion_salida_digital[4];
    char cnombre[20];
};

struct stktr09 {
    float fbateria;
    float fanalogica1, fanalogica2;
    volatile uint16_t iseguridad_entrada_externa_low[4];
    volatile uint16_t iseguridad_entrada_externa_high[4];
    volatile uint16_t itiempo_activacion_salida_digital[4];  // 100 ms units
    volatile unsigned char cestados_entradas_externas[4];    // 0, 1, 0x81 latched, 2 unknown (test)
    volatile unsigned char cestado_salida_digital[4];
    unsigned char cestados_entradas_analogicas[2];
    uint8_t ccambios_bruscos_bateria;
    uint8_t cseguridad_bateria_baja_high, cseguridad_bateria_baja_low;
    uint8_t cseguridad_alarma_analogica1_high, cseguridad_alarma_analogica1_low;
    uint8_t cseguridad_alarma_analogica2_high, cseguridad_alarma_analogica2_low;
    uint8_t calarma_low_battery;
    uint8_t clisto;
    uint8_t cdia_utc, cmes_utc, cano_utc;
    uint8_t chora_utc, cminuto_utc, csegundo_utc;
    uint8_t cdia_semana;
    uint8_t ctest;
    uint8_t creset;
    uint8_t cextraigo;
    uint8_t crefresco;
    uint8_t csincronizada;
    volatile uint8_t creintentos_lectura_fecha;
    uint8_t cbytes_rx;
    unsigned char cbuffer_rx[32];
};

// Ships seen inside the rectangle: each is warned once by message 12 and
// remembered until it is seen outside or has not reported for
// CMINUTOS_OLVIDO_BARCO minutes. Ships waiting for their warning queue in
// the order they entered.
constexpr uint8_t CBARCOS_EN_ZONA = 128;
constexpr uint8_t CMINUTOS_OLVIDO_BARCO = 10;
constexpr uint8_t CBARCO_LIBRE = 0;
constexpr uint8_t CBARCO_ESPERANDO = 1;  // inside, warning queued
constexpr uint8_t CBARCO_AVISADO = 2;    // inside, warned

struct stshipras {
    int32_t llongitud[2];
    int32_t llatitud[2];
    uint32_t lmmsi_detectado;
    uint16_t ispeed_detectada;
    uint16_t irumbo_detectado;
    uint8_t cnew_msg12;
    uint32_t lmmsi_en_zona[CBARCOS_EN_ZONA];
    uint8_t cestado_en_zona[CBARCOS_EN_ZONA];   // CBARCO_LIBRE, _ESPERANDO, _AVISADO
    uint8_t cminutos_en_zona[CBARCOS_EN_ZONA];  // minutes since its last report
    uint16_t iorden_en_zona[CBARCOS_EN_ZONA];   // turn of a waiting entry
    uint16_t iturno_en_zona;                    // the turn the next waiting ship takes
    uint8_t cbarcos_esperando;
    volatile uint8_t cminuto_barcos;  // set by the tick every minute: ships age
};

// ---- Sensor channels -----------------------------------------------------

struct stsensor {
    float fsumatorio_wind_speed;
    float fsumatorio_coseno_wind_direction, fsumatorio_seno_wind_direction;
    float fwind_gust_speed;
    float fcoseno_wind_gust_direction, fseno_wind_gust_direction;
    float fsumatorio_wind_gust_speed[3];
    float fsumatorio_coseno_wind_gust_direction[3];
    float fsumatorio_seno_wind_gust_direction[3];
    float fsumatorio_air_temperature, fsumatorio_relative_humidity, fsumatorio_dew_point,
        fsumatorio_air_pressure;
    uint16_t inumero_muestras_average;
    uint16_t iaverage_wind_speed, iwind_gust_speed;
    uint16_t iwind_direction, iwind_gust_direction;
    uint16_t iair_pressure[19];
    int16_t iair_temperature, idew_point;
    signed char cmuestras_calculo_gust[3];
    uint8_t crelative_humidity;
    uint8_t csea_state;
    uint8_t cair_pressure_tendency;
    uint8_t cair_pressure_muestras_temporales;
    volatile uint8_t ctimeout_datos_validos;  // 100 ms units for types 1 and 2, minutes for type 3
    uint8_t cnueva_muestra;
    volatile uint8_t ctimeout_alarm;  // seconds, counted down every second
    uint8_t cconfiguracion;
    uint32_t lmmsi_destino_msg6;
    uint8_t cnew_msg6;
    unsigned char cpayload_msg6[90];
    unsigned char cdatos_tx[256];
    unsigned char cframe_rx_tide[920];
    // The data-link block being put together from received messages 6 keeps
    // its own length, the part it expects next, the sender and part count of
    // its part 1 and the length of its last part, so that bytes the device
    // sends meanwhile, a lost part or another sender's part do not splice a
    // wrong block, and a part sent twice is known.
    uint16_t ibytes_rx_tide;
    uint8_t cparte_siguiente_tide;
    uint8_t ctotal_partes_tide;
    uint32_t lmmsi_origen_tide;
    uint16_t ibytes_ultima_parte_tide;
    uint16_t ibytes_rx;
    uint8_t ccalculo_checksum_nmea, cchecksum_nmea;
    uint8_t cid_secuencial;
    volatile uint8_t
        ctimeout_rx_frame;    // ms of line silence ending a burst, counted down every 1 ms
    volatile uint8_t cdelay;  // seconds, counted down every second
    uint8_t ccantidad_resets;
    uint8_t calarma;
    uint8_t cesperando_respuesta;
    volatile uint8_t ctimeout_respuesta_comando;  // tenths of a second, counted down every 100 ms
    uint8_t cbytes_tx;
    uint8_t creset;
    uint8_t ccomando;
    uint8_t cextraigo;
    unsigned char cframe_rx[1024];
    unsigned char cframe_tx[128];
};

// Device types of a sensor channel (stconfiguracion_sensor::csensor).
constexpr uint8_t CSENSOR_NINGUNO = 0;
constexpr uint8_t CSENSOR_ESTACION_BASE = 1;
constexpr uint8_t CSENSOR_TIDELINK = 2;
constexpr uint8_t CSENSOR_EMA = 3;

struct stconfiguracion_sensor {
    uint8_t csensor;  // 0 none, 1 base station, 2 TIDELINK, 3 weather station
    uint8_t ctipo_comunicacion;
    uint8_t cbaudios_comunicacion;
    uint8_t csalida_reset;
    uint8_t cseg_delay_inicial;
    uint8_t csample_interval;
    uint8_t cdireccionamiento_viento;
    uint8_t ctimeout_datos_validos;
};

// ---- Clock and card --------------------------------------------------------

struct strtc {
    volatile uint8_t ctimeout;  // ms, counted down every 1 ms
    uint8_t calarma;
    uint8_t cextraigo;
    uint8_t cposible_error;
    // The system time in seconds since 1970 as last taken from a running
    // clock or from GPS (0: not yet), and millis() then: while the crystal
    // is stopped the station counts on from it.
    uint32_t lunix_base;
    uint32_t lmillis_base;
};

struct stsd_t {
    uint32_t lfecha_fichero;
    uint32_t lfecha_timestamp;  // hour key of the last tag block built
    // Each hourly file has its own attempts, started afresh every hour, and
    // a failed attempt waits before the next (seconds, counted down every
    // second), so that a passing fault is ridden out.
    uint8_t cintentos_creacion_fichero[2];
    volatile uint8_t cespera_creacion_fichero[2];
    uint8_t cintentos_creacion_directorio;
    volatile uint8_t cespera_creacion_directorio;  // seconds, counted down every second
    uint8_t ccreacion_nuevo_directorio;
    volatile uint8_t cdelay;        // seconds, counted down every second
    uint8_t ctarjeta_inicializada;  // 0 not initialised, 1 ready, 4 given up
    uint8_t ctarjeta_perdida;       // 1: a ready card stopped answering; started again
    uint8_t cporcentaje_full;
    uint8_t cbytes_name_file;
    uint8_t ccalculo_checksum_nmea, cchecksum_nmea;
    unsigned char ccreacion_nuevo_fichero[2];  // 0 none, 1 to create, 2 open, 4 given up
    char ctimestamp[64];
    String snombre_fichero_dvm;
    String snombre_fichero_tidelink;
    String sdirectorio;
    File ffichero_vdm;
    File ffichero_tidelink;
};

// ---- The records -------------------------------------------------------------

extern stais_t stais;
extern stconfiguracion_ais configuracion_ais;
extern stconfiguracion_ktr09 configuracion_ktr09;
extern stktr09 ktr09;
extern stshipras shipras;
extern stsensor sensor[2];
extern stconfiguracion_sensor configuracion_sensor[2];
extern strtc rtc;
extern stsd_t stsd;

// Tick dividers and delay countdowns.
extern volatile uint8_t cacciones_cada_10milisegundos;
extern volatile uint8_t cacciones_cada_100milisegundos;
extern volatile uint8_t cacciones_cada_segundo;
extern volatile uint8_t cacciones_un_minuto;
extern volatile uint8_t cretardo_tiempo;           // 100 ms units
extern volatile uint8_t cretardo_en_milisegundos;  // 1 ms units
extern volatile uint8_t ctimeout_eeprom;           // 1 ms units
extern uint8_t creintentos_sd;

// USB reception.
extern uint32_t ultimaTramaPcRecibida;
extern unsigned char bufferRx[140];
extern uint8_t iBytesRx;
extern uint32_t mTimeStamp;
extern uint32_t mTimeOut;  // ms of USB silence that discard a partial PC frame
extern unsigned char vArray[150];
extern unsigned char vSalida[150];

// SD card formatter and information report.
extern uint32_t cardSize;
extern uint32_t eraseSize;
extern uint32_t cardSizeBlocks;
extern uint32_t cardCapacityMB;
extern uint8_t partType;
extern uint32_t relSector;
extern uint32_t partSize;
extern uint8_t numberOfHeads;
extern uint8_t sectorsPerTrack;
extern uint16_t reservedSectors;
extern uint8_t sectorsPerCluster;
extern uint32_t fatStart;
extern uint32_t fatSize;
extern uint32_t dataStart;
extern char noName[12];
extern char fat16str[9];
extern char fat32str[9];
extern SdFat sd;
extern SdSpiCard card;      // the card as the formatter drives it
extern uint8_t cache[512];  // one card block: the formatter's and the report's buffer

// ---- Constant tables -------------------------------------------------------

extern const char m_test[];
extern const char m_settings[];
extern const char m_format_sd[];
extern const char m_read_rtc[];
extern const char m_info_sd[];
extern const char m_dip[];
extern const char m_bateria[];
extern const char m_breal[];
extern const char m_analog1[];
extern const char m_analog1_real[];
extern const char m_analog2[];
extern const char m_analog2_real[];
extern const char m_rs232[];
extern const char m_rs485[];
extern const char m_rs422[];
extern const char m_usb_connected[];
extern const char m_exit_standby[];
extern const char m_msg[];
extern const char m_mensaje_12[];
extern const char m_comando_ms0[];
extern const char m_comando_ms1[];
extern const char m_comando_ms2[];
extern const char m_comando_ms3[];
extern const char m_comando_ms4[];
extern const char m_comando_ms5[];
extern const char m_comando_ts1[];
extern const char m_comando_ts2[];
extern const char m_comando_ts3[];
extern const char m_comando_ts4[];
extern const char m_comando_ts5[];
extern const char m_comando_ts6[];
extern const char m_cabecera_nmea_wimda[];
extern const char m_barra[];
extern const char m_vdm[];
extern const char m_tidelink[];
extern const char m_txt[];
extern const unsigned char m_filtro_trama_ais[6];

extern const uint32_t lvalores_decimales[10];
extern const uint32_t lvalores_hexadecimales[8];
extern const uint32_t lpeso[32];
extern const unsigned char cpeso[8];
extern const unsigned char cvalores_ascii[16];
extern const unsigned char m_meses[12];
extern const unsigned char m_meses_bisiesto[12];
