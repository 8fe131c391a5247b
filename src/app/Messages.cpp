#include "app/Messages.h"

#include <cerrno>
#include <iterator>

#include "discovery/SearchDeviceManager.h"

namespace {

// The entry of a table indexed by language code - 1, English for an unknown code.
template <typename Entry, std::size_t N>
const Entry& ForLanguage(const Entry (&table)[N], int languageCode) {
  return table[languageCode >= 1 && languageCode <= static_cast<int>(N) ? languageCode - 1 : 0];
}

struct OpenFailureTexts {
  const char16_t* webPage;
  const char16_t* shares;
};

// Indexed by language code - 1, in the order of the layout documents. %1 is the location.
constexpr OpenFailureTexts kOpenFailureTexts[] = {
    {u"Could not open %1.\nMake sure a web browser is installed and set as the default.",
     u"Could not open %1.\nMake sure a file manager is installed and set as the default for "
     u"folders."},
    {u"无法打开 %1。\n请确认已安装网页浏览器并将其设为默认浏览器。",
     u"无法打开 %1。\n请确认已安装文件管理器并将其设为默认的文件夹打开方式。"},
    {u"無法開啟 %1。\n請確認已安裝網頁瀏覽器並將其設為預設瀏覽器。",
     u"無法開啟 %1。\n請確認已安裝檔案管理員並將其設為資料夾的預設開啟程式。"},
    {u"%1 を開けませんでした。\nWeb "
     u"ブラウザーがインストールされ、既定に設定されていることを確認してください。",
     u"%1 "
     u"を開けませんでした。\nファイルマネージャーがインストールされ、フォルダーの既定に設定されてい"
     u"ることを確認してください。"},
    {u"%1 konnte nicht geöffnet werden.\nBitte prüfen Sie, ob ein Webbrowser installiert und als "
     u"Standard festgelegt ist.",
     u"%1 konnte nicht geöffnet werden.\nBitte prüfen Sie, ob ein Dateimanager installiert und als "
     u"Standard für Ordner festgelegt ist."},
    {u"Impossible d'ouvrir %1.\nVérifiez qu'un navigateur web est installé et défini par défaut.",
     u"Impossible d'ouvrir %1.\nVérifiez qu'un gestionnaire de fichiers est installé et défini par "
     u"défaut pour les dossiers."},
    {u"Не удалось открыть %1.\nУбедитесь, что веб-браузер установлен и выбран по умолчанию.",
     u"Не удалось открыть %1.\nУбедитесь, что файловый менеджер установлен и выбран по умолчанию "
     u"для папок."},
    {u"%1을(를) 열 수 없습니다.\n웹 브라우저가 설치되어 있고 기본값으로 설정되어 있는지 "
     u"확인하십시오.",
     u"%1을(를) 열 수 없습니다.\n파일 관리자가 설치되어 있고 폴더의 기본값으로 설정되어 있는지 "
     u"확인하십시오."},
    {u"Não foi possível abrir %1.\nVerifique se um navegador web está instalado e definido como "
     u"predefinido.",
     u"Não foi possível abrir %1.\nVerifique se um gestor de ficheiros está instalado e definido "
     u"como predefinido para pastas."},
    {u"No se pudo abrir %1.\nCompruebe que hay un navegador web instalado y configurado como "
     u"predeterminado.",
     u"No se pudo abrir %1.\nCompruebe que hay un gestor de archivos instalado y configurado como "
     u"predeterminado para las carpetas."},
    {u"Impossibile aprire %1.\nVerificare che sia installato un browser web impostato come "
     u"predefinito.",
     u"Impossibile aprire %1.\nVerificare che sia installato un gestore di file impostato come "
     u"predefinito per le cartelle."},
    {u"Kan %1 niet openen.\nControleer of er een webbrowser is geïnstalleerd en als standaard is "
     u"ingesteld.",
     u"Kan %1 niet openen.\nControleer of er een bestandsbeheerder is geïnstalleerd en als "
     u"standaard voor mappen is ingesteld."},
    {u"Nie można otworzyć %1.\nSprawdź, czy przeglądarka internetowa jest zainstalowana i "
     u"ustawiona jako domyślna.",
     u"Nie można otworzyć %1.\nSprawdź, czy menedżer plików jest zainstalowany i ustawiony jako "
     u"domyślny dla folderów."},
    {u"Kunne ikke åbne %1.\nKontrollér, at en webbrowser er installeret og valgt som standard.",
     u"Kunne ikke åbne %1.\nKontrollér, at en filhåndtering er installeret og valgt som standard "
     u"for mapper."},
};

// Indexed by language code - 1. %1 is the address the device gave.
constexpr const char16_t* kInvalidAddressTexts[] = {
    u"The device gave \"%1\" as its address, which is not an IPv4 address.\nNothing was opened.",
    u"设备提供的地址“%1”不是 IPv4 地址。\n未打开任何内容。",
    u"裝置提供的位址「%1」不是 IPv4 位址。\n未開啟任何內容。",
    u"デバイスが示したアドレス「%1」は IPv4 アドレスではありません。\n何も開きませんでした。",
    u"Das Gerät hat „%1“ als Adresse angegeben; das ist keine IPv4-Adresse.\nEs wurde nichts "
    u"geöffnet.",
    u"L'appareil a donné « %1 » comme adresse, qui n'est pas une adresse IPv4.\nRien n'a été "
    u"ouvert.",
    u"Устройство сообщило адрес «%1», который не является адресом IPv4.\nНичего не открыто.",
    u"장치가 알린 주소 \"%1\"은(는) IPv4 주소가 아닙니다.\n아무것도 열지 않았습니다.",
    u"O dispositivo indicou \"%1\" como endereço, que não é um endereço IPv4.\nNada foi aberto.",
    u"El dispositivo indicó \"%1\" como dirección, que no es una dirección IPv4.\nNo se abrió "
    u"nada.",
    u"Il dispositivo ha indicato \"%1\" come indirizzo, che non è un indirizzo IPv4.\nNon è stato "
    u"aperto nulla.",
    u"Het apparaat gaf \"%1\" als adres op; dat is geen IPv4-adres.\nEr is niets geopend.",
    u"Urządzenie podało adres „%1”, który nie jest adresem IPv4.\nNic nie zostało otwarte.",
    u"Enheden opgav \"%1\" som adresse, hvilket ikke er en IPv4-adresse.\nIntet blev åbnet.",
};

struct SearchOffTexts {
  const char16_t* broadcast;
  const char16_t* multicast;
  // %1 the search, %2 the port, %3 the port helper (privilege) or the system's reason (other).
  const char16_t* privilege;
  const char16_t* held;
  const char16_t* other;
};

constexpr SearchOffTexts kSearchOffTexts[] = {
    {u"Broadcast search", u"Multicast search",
     u"%1 off: port %2 needs a privilege. Run: sudo setcap cap_net_bind_service=+ep %3",
     u"%1 off: another program holds UDP port %2.", u"%1 off: UDP port %2: %3"},
    {u"广播搜索", u"组播搜索",
     u"%1已关闭：端口 %2 需要权限。请运行：sudo setcap cap_net_bind_service=+ep %3",
     u"%1已关闭：另一个程序占用了 UDP 端口 %2。", u"%1已关闭：UDP 端口 %2：%3"},
    {u"廣播搜尋", u"多點傳送搜尋",
     u"%1已關閉：連接埠 %2 需要權限。請執行：sudo setcap cap_net_bind_service=+ep %3",
     u"%1已關閉：另一個程式佔用了 UDP 連接埠 %2。", u"%1已關閉：UDP 連接埠 %2：%3"},
    {u"ブロードキャスト検索", u"マルチキャスト検索",
     u"%1は無効です：ポート %2 には権限が必要です。実行してください：sudo setcap "
     u"cap_net_bind_service=+ep %3",
     u"%1は無効です：別のプログラムが UDP ポート %2 を使用しています。",
     u"%1は無効です：UDP ポート %2：%3"},
    {u"Broadcast-Suche", u"Multicast-Suche",
     u"%1 aus: Port %2 braucht eine Berechtigung. Ausführen: sudo setcap "
     u"cap_net_bind_service=+ep %3",
     u"%1 aus: Ein anderes Programm belegt UDP-Port %2.", u"%1 aus: UDP-Port %2: %3"},
    {u"Recherche par diffusion", u"Recherche multicast",
     u"%1 désactivée : le port %2 exige un privilège. Exécutez : sudo setcap "
     u"cap_net_bind_service=+ep %3",
     u"%1 désactivée : un autre programme occupe le port UDP %2.",
     u"%1 désactivée : port UDP %2 : %3"},
    {u"Широковещательный поиск", u"Многоадресный поиск",
     u"%1 отключён: для порта %2 нужны права. Выполните: sudo setcap cap_net_bind_service=+ep %3",
     u"%1 отключён: UDP-порт %2 занят другой программой.", u"%1 отключён: UDP-порт %2: %3"},
    {u"브로드캐스트 검색", u"멀티캐스트 검색",
     u"%1 꺼짐: 포트 %2에는 권한이 필요합니다. 실행: sudo setcap cap_net_bind_service=+ep %3",
     u"%1 꺼짐: 다른 프로그램이 UDP 포트 %2을(를) 사용 중입니다.", u"%1 꺼짐: UDP 포트 %2: %3"},
    {u"Pesquisa por difusão", u"Pesquisa multicast",
     u"%1 desativada: a porta %2 requer um privilégio. Execute: sudo setcap "
     u"cap_net_bind_service=+ep %3",
     u"%1 desativada: outro programa está a usar a porta UDP %2.",
     u"%1 desativada: porta UDP %2: %3"},
    {u"Búsqueda por difusión", u"Búsqueda multicast",
     u"%1 desactivada: el puerto %2 requiere un privilegio. Ejecute: sudo setcap "
     u"cap_net_bind_service=+ep %3",
     u"%1 desactivada: otro programa ocupa el puerto UDP %2.",
     u"%1 desactivada: puerto UDP %2: %3"},
    {u"Ricerca broadcast", u"Ricerca multicast",
     u"%1 disattivata: la porta %2 richiede un privilegio. Eseguire: sudo setcap "
     u"cap_net_bind_service=+ep %3",
     u"%1 disattivata: un altro programma occupa la porta UDP %2.",
     u"%1 disattivata: porta UDP %2: %3"},
    {u"Broadcast-zoeken", u"Multicast-zoeken",
     u"%1 uit: poort %2 vereist een recht. Voer uit: sudo setcap cap_net_bind_service=+ep %3",
     u"%1 uit: een ander programma gebruikt UDP-poort %2.", u"%1 uit: UDP-poort %2: %3"},
    {u"Wyszukiwanie rozgłoszeniowe", u"Wyszukiwanie multicast",
     u"%1 wyłączone: port %2 wymaga uprawnienia. Uruchom: sudo setcap "
     u"cap_net_bind_service=+ep %3",
     u"%1 wyłączone: inny program zajmuje port UDP %2.", u"%1 wyłączone: port UDP %2: %3"},
    {u"Broadcast-søgning", u"Multicast-søgning",
     u"%1 slået fra: port %2 kræver en rettighed. Kør: sudo setcap cap_net_bind_service=+ep %3",
     u"%1 slået fra: et andet program bruger UDP-port %2.", u"%1 slået fra: UDP-port %2: %3"},
};

struct CycleTexts {
  const char16_t* oneFound;   // "1 device found."
  const char16_t* manyFound;  // %1 the count
  const char16_t* noDevice;   // %1 the ports
};

constexpr CycleTexts kCycleTexts[] = {
    {u"1 device found.", u"%1 devices found.",
     u"No device answered.\nCheck that the device is switched on and connected to this network, "
     u"and that the firewall lets in UDP ports %1."},
    {u"找到 1 台设备。", u"找到 %1 台设备。",
     u"没有设备应答。\n请检查设备是否已开启并连接到此网络，以及防火墙是否允许 UDP 端口 %1。"},
    {u"找到 1 台裝置。", u"找到 %1 台裝置。",
     u"沒有裝置回應。\n請檢查裝置是否已開啟並連線到此網路，以及防火牆是否允許 UDP 連接埠 %1。"},
    {u"1 台のデバイスが見つかりました。", u"%1 台のデバイスが見つかりました。",
     u"応答したデバイスはありません。\nデバイスの電源が入っていてこのネットワークに接続されている"
     u"こと、ファイアウォールが UDP ポート %1 を許可していることを確認してください。"},
    {u"1 Gerät gefunden.", u"%1 Geräte gefunden.",
     u"Kein Gerät hat geantwortet.\nPrüfen Sie, ob das Gerät eingeschaltet und mit diesem Netzwerk "
     u"verbunden ist und ob die Firewall die UDP-Ports %1 durchlässt."},
    {u"1 appareil trouvé.", u"%1 appareils trouvés.",
     u"Aucun appareil n'a répondu.\nVérifiez que l'appareil est allumé et connecté à ce réseau, et "
     u"que le pare-feu autorise les ports UDP %1."},
    {u"Найдено устройств: 1.", u"Найдено устройств: %1.",
     u"Ни одно устройство не ответило.\nПроверьте, что устройство включено и подключено к этой "
     u"сети, а брандмауэр пропускает UDP-порты %1."},
    {u"장치 1대를 찾았습니다.", u"장치 %1대를 찾았습니다.",
     u"응답한 장치가 없습니다.\n장치가 켜져 있고 이 네트워크에 연결되어 있는지, 방화벽이 UDP 포트 "
     u"%1을(를) 허용하는지 확인하십시오."},
    {u"1 dispositivo encontrado.", u"%1 dispositivos encontrados.",
     u"Nenhum dispositivo respondeu.\nVerifique se o dispositivo está ligado e conectado a esta "
     u"rede, e se a firewall permite as portas UDP %1."},
    {u"1 dispositivo encontrado.", u"%1 dispositivos encontrados.",
     u"Ningún dispositivo respondió.\nCompruebe que el dispositivo está encendido y conectado a "
     u"esta red, y que el cortafuegos permite los puertos UDP %1."},
    {u"1 dispositivo trovato.", u"%1 dispositivi trovati.",
     u"Nessun dispositivo ha risposto.\nVerificare che il dispositivo sia acceso e collegato a "
     u"questa rete e che il firewall consenta le porte UDP %1."},
    {u"1 apparaat gevonden.", u"%1 apparaten gevonden.",
     u"Geen apparaat heeft geantwoord.\nControleer of het apparaat aan staat en met dit netwerk is "
     u"verbonden, en of de firewall UDP-poorten %1 doorlaat."},
    {u"Znalezione urządzenia: 1.", u"Znalezione urządzenia: %1.",
     u"Żadne urządzenie nie odpowiedziało.\nSprawdź, czy urządzenie jest włączone i podłączone do "
     u"tej sieci oraz czy zapora przepuszcza porty UDP %1."},
    {u"1 enhed fundet.", u"%1 enheder fundet.",
     u"Ingen enhed svarede.\nKontrollér, at enheden er tændt og tilsluttet dette netværk, og at "
     u"firewallen tillader UDP-portene %1."},
};

// Indexed by language code - 1: the labels in the order of DeviceLabel, the goodbye line, then the
// copy commands in the order of CopyCommand.
struct DetailTexts {
  const char16_t* labels[10];
  const char16_t* gone;
  const char16_t* copy[3];
};

constexpr DetailTexts kDetailTexts[] = {
    {{u"Host name", u"IP address", u"Model", u"Model details", u"Firmware version", u"Vendor",
      u"MAC address", u"Second MAC address", u"Wireless network", u"Device ID"},
     u"Has left the network",
     {u"Copy IP Address", u"Copy MAC Address", u"Copy Details"}},
    {{u"主机名", u"IP 地址", u"型号", u"型号详情", u"固件版本", u"厂商", u"MAC 地址",
      u"第二个 MAC 地址", u"无线网络", u"设备 ID"},
     u"已离开网络",
     {u"复制 IP 地址", u"复制 MAC 地址", u"复制详细信息"}},
    {{u"主機名稱", u"IP 位址", u"型號", u"型號詳細資料", u"韌體版本", u"廠商", u"MAC 位址",
      u"第二個 MAC 位址", u"無線網路", u"裝置 ID"},
     u"已離開網路",
     {u"複製 IP 位址", u"複製 MAC 位址", u"複製詳細資料"}},
    {{u"ホスト名", u"IP アドレス", u"モデル", u"モデルの詳細", u"ファームウェアのバージョン",
      u"ベンダー", u"MAC アドレス", u"2 番目の MAC アドレス", u"ワイヤレス ネットワーク",
      u"デバイス ID"},
     u"ネットワークから離れました",
     {u"IP アドレスをコピー", u"MAC アドレスをコピー", u"詳細をコピー"}},
    {{u"Hostname", u"IP-Adresse", u"Modell", u"Modelldetails", u"Firmware-Version", u"Hersteller",
      u"MAC-Adresse", u"Zweite MAC-Adresse", u"WLAN", u"Geräte-ID"},
     u"Hat das Netzwerk verlassen",
     {u"IP-Adresse kopieren", u"MAC-Adresse kopieren", u"Details kopieren"}},
    {{u"Nom d'hôte", u"Adresse IP", u"Modèle", u"Détails du modèle", u"Version du micrologiciel",
      u"Fabricant", u"Adresse MAC", u"Seconde adresse MAC", u"Réseau sans fil",
      u"Identifiant de l'appareil"},
     u"A quitté le réseau",
     {u"Copier l'adresse IP", u"Copier l'adresse MAC", u"Copier les détails"}},
    {{u"Имя узла", u"IP-адрес", u"Модель", u"Сведения о модели", u"Версия прошивки",
      u"Производитель", u"MAC-адрес", u"Второй MAC-адрес", u"Беспроводная сеть",
      u"Идентификатор устройства"},
     u"Покинуло сеть",
     {u"Копировать IP-адрес", u"Копировать MAC-адрес", u"Копировать сведения"}},
    {{u"호스트 이름", u"IP 주소", u"모델", u"모델 세부 정보", u"펌웨어 버전", u"제조업체",
      u"MAC 주소", u"두 번째 MAC 주소", u"무선 네트워크", u"장치 ID"},
     u"네트워크에서 나감",
     {u"IP 주소 복사", u"MAC 주소 복사", u"세부 정보 복사"}},
    {{u"Nome do anfitrião", u"Endereço IP", u"Modelo", u"Detalhes do modelo", u"Versão do firmware",
      u"Fabricante", u"Endereço MAC", u"Segundo endereço MAC", u"Rede sem fios",
      u"ID do dispositivo"},
     u"Saiu da rede",
     {u"Copiar endereço IP", u"Copiar endereço MAC", u"Copiar detalhes"}},
    {{u"Nombre de host", u"Dirección IP", u"Modelo", u"Detalles del modelo",
      u"Versión del firmware", u"Fabricante", u"Dirección MAC", u"Segunda dirección MAC",
      u"Red inalámbrica", u"ID del dispositivo"},
     u"Ha salido de la red",
     {u"Copiar dirección IP", u"Copiar dirección MAC", u"Copiar detalles"}},
    {{u"Nome host", u"Indirizzo IP", u"Modello", u"Dettagli del modello", u"Versione firmware",
      u"Produttore", u"Indirizzo MAC", u"Secondo indirizzo MAC", u"Rete wireless",
      u"ID dispositivo"},
     u"Ha lasciato la rete",
     {u"Copia indirizzo IP", u"Copia indirizzo MAC", u"Copia dettagli"}},
    {{u"Hostnaam", u"IP-adres", u"Model", u"Modeldetails", u"Firmwareversie", u"Fabrikant",
      u"MAC-adres", u"Tweede MAC-adres", u"Draadloos netwerk", u"Apparaat-ID"},
     u"Heeft het netwerk verlaten",
     {u"IP-adres kopiëren", u"MAC-adres kopiëren", u"Details kopiëren"}},
    {{u"Nazwa hosta", u"Adres IP", u"Model", u"Szczegóły modelu",
      u"Wersja oprogramowania układowego", u"Producent", u"Adres MAC", u"Drugi adres MAC",
      u"Sieć bezprzewodowa", u"Identyfikator urządzenia"},
     u"Opuściło sieć",
     {u"Kopiuj adres IP", u"Kopiuj adres MAC", u"Kopiuj szczegóły"}},
    {{u"Værtsnavn", u"IP-adresse", u"Model", u"Modeldetaljer", u"Firmwareversion", u"Producent",
      u"MAC-adresse", u"Anden MAC-adresse", u"Trådløst netværk", u"Enheds-id"},
     u"Har forladt netværket",
     {u"Kopiér IP-adresse", u"Kopiér MAC-adresse", u"Kopiér detaljer"}},
};

// Indexed by language code - 1. %1 the folder, %2 the system's reason.
constexpr const char16_t* kRuntimeFolderFailureTexts[] = {
    u"Cannot start: the runtime folder %1 cannot be used (%2).\nMake sure that XDG_RUNTIME_DIR "
    u"names a folder of your own that you can write to.",
    u"无法启动：运行时文件夹 %1 无法使用（%2）。\n请确认 XDG_RUNTIME_DIR "
    u"指向一个属于您且您可以写入的文件夹。",
    u"無法啟動：執行階段資料夾 %1 無法使用（%2）。\n請確認 XDG_RUNTIME_DIR "
    u"指向一個屬於您且您可以寫入的資料夾。",
    u"起動できません: ランタイム フォルダー %1 を使用できません (%2)。\nXDG_RUNTIME_DIR "
    u"が、ご自身の書き込み可能なフォルダーを指していることを確認してください。",
    u"Start nicht möglich: Der Laufzeitordner %1 kann nicht verwendet werden (%2).\nBitte prüfen "
    u"Sie, ob XDG_RUNTIME_DIR auf einen eigenen Ordner zeigt, in den Sie schreiben dürfen.",
    u"Démarrage impossible : le dossier d'exécution %1 est inutilisable (%2).\nVérifiez que "
    u"XDG_RUNTIME_DIR désigne un dossier qui vous appartient et dans lequel vous pouvez écrire.",
    u"Не удалось запустить: папку времени выполнения %1 нельзя использовать (%2).\nУбедитесь, что "
    u"XDG_RUNTIME_DIR указывает на вашу собственную папку, доступную вам для записи.",
    u"시작할 수 없습니다: 런타임 폴더 %1을(를) 사용할 수 없습니다(%2).\nXDG_RUNTIME_DIR이 사용자 "
    u"소유이며 쓰기 가능한 폴더를 가리키는지 확인하십시오.",
    u"Não é possível iniciar: a pasta de execução %1 não pode ser utilizada (%2).\nVerifique se "
    u"XDG_RUNTIME_DIR indica uma pasta sua na qual pode escrever.",
    u"No se puede iniciar: la carpeta de ejecución %1 no se puede usar (%2).\nCompruebe que "
    u"XDG_RUNTIME_DIR indica una carpeta propia en la que puede escribir.",
    u"Impossibile avviare: la cartella di runtime %1 non è utilizzabile (%2).\nVerificare che "
    u"XDG_RUNTIME_DIR indichi una cartella propria in cui sia possibile scrivere.",
    u"Kan niet starten: de runtimemap %1 is niet bruikbaar (%2).\nControleer of XDG_RUNTIME_DIR "
    u"naar een eigen map verwijst waarin u kunt schrijven.",
    u"Nie można uruchomić: folderu wykonawczego %1 nie można użyć (%2).\nSprawdź, czy "
    u"XDG_RUNTIME_DIR wskazuje Twój własny folder, do którego możesz zapisywać.",
    u"Kan ikke starte: kørselsmappen %1 kan ikke bruges (%2).\nKontrollér, at XDG_RUNTIME_DIR "
    u"peger på en mappe, som du ejer og kan skrive i.",
};

}  // namespace

QString DevicesFoundText(int languageCode, int count) {
  const CycleTexts& texts = ForLanguage(kCycleTexts, languageCode);
  return count == 1 ? QString::fromUtf16(texts.oneFound)
                    : QString::fromUtf16(texts.manyFound).arg(count);
}

QString NoDeviceHint(int languageCode, const QString& ports) {
  return QString::fromUtf16(ForLanguage(kCycleTexts, languageCode).noDevice).arg(ports);
}

QString OpenFailureMessage(int languageCode, OpenTarget target, const QString& location) {
  const OpenFailureTexts& texts = ForLanguage(kOpenFailureTexts, languageCode);
  return QString::fromUtf16(target == OpenTarget::kWebPage ? texts.webPage : texts.shares)
      .arg(location);
}

QString InvalidAddressMessage(int languageCode, const QString& address) {
  return QString::fromUtf16(ForLanguage(kInvalidAddressTexts, languageCode)).arg(address);
}

QString SearchOffWarning(int languageCode, const SearchOff& search, const QString& program) {
  const SearchOffTexts& texts = ForLanguage(kSearchOffTexts, languageCode);
  const QString name = QString::fromUtf16(search.broadcast ? texts.broadcast : texts.multicast);
  const QString port = QString::number(search.port);
  if (search.error == EACCES || search.error == EPERM) {
    return QString::fromUtf16(texts.privilege).arg(name, port, program);
  }
  if (search.error == EADDRINUSE) {
    return QString::fromUtf16(texts.held).arg(name, port);
  }
  return QString::fromUtf16(texts.other).arg(name, port, QString::fromStdString(search.text));
}

QString DeviceLabelText(int languageCode, DeviceLabel label) {
  return QString::fromUtf16(
      ForLanguage(kDetailTexts, languageCode).labels[static_cast<int>(label)]);
}

QString DeviceGoneText(int languageCode) {
  return QString::fromUtf16(ForLanguage(kDetailTexts, languageCode).gone);
}

QString CopyCommandText(int languageCode, CopyCommand command) {
  return QString::fromUtf16(
      ForLanguage(kDetailTexts, languageCode).copy[static_cast<int>(command)]);
}

QString RuntimeFolderFailureMessage(int languageCode, const QString& folder,
                                    const QString& reason) {
  return QString::fromUtf16(ForLanguage(kRuntimeFolderFailureTexts, languageCode))
      .arg(folder, reason);
}
