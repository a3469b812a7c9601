// The status page: the gates as the status window shows them, tonight's counts and last rows.
// Plain HTML, one style sheet and one script of our own (the page's security policy allows
// nothing else); the script asks /estado.json every two seconds and writes only text.
#include "receiver/link/ServidorMonitor.h"

namespace lumora {

const char* const kPaginaHtml = R"(<!DOCTYPE html>
<html lang="pt-BR">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Lumora &ndash; Status dos Terminais</title>
<link rel="stylesheet" href="/pagina.css">
<script src="/pagina.js" defer></script>
</head>
<body>
<header>
<h1>Status dos Terminais</h1>
<p id="resumo">Carregando&hellip;</p>
<p id="saude"></p>
</header>
<main>
<table id="terminais">
<thead><tr><th>Equip.</th><th>IP</th><th>Estado</th><th>Desde</th><th>&Uacute;ltima msg.</th><th>Lib.</th><th>Blo.</th></tr></thead>
<tbody></tbody>
</table>
<h2 id="tituloNoite">Noite</h2>
<ul id="contagens"></ul>
<h2>&Uacute;ltimas passagens</h2>
<table id="ultimas">
<thead><tr><th>Data/Hora</th><th>Terminal</th><th>Estado</th><th class="comanda">Comanda</th></tr></thead>
<tbody></tbody>
</table>
</main>
<footer id="atualizado"></footer>
</body>
</html>
)";

const char* const kPaginaCss =
    R"(body { font-family: sans-serif; margin: 0.5em; color: #111; background: #fff; }
h1 { font-size: 1.3em; margin: 0.2em 0; }
h2 { font-size: 1.1em; margin: 1em 0 0.3em; }
p { margin: 0.2em 0; }
table { border-collapse: collapse; width: 100%; font-size: 0.95em; }
th, td { border: 1px solid #bbb; padding: 0.25em 0.4em; text-align: left; }
th { background: #e8e8e8; }
td.numero { text-align: right; }
tr.ausente td { color: #8b0000; background: #ffe1e1; }
#saude.falha { color: #fff; background: #a00000; padding: 0.3em; }
#saude.ok { color: #064; }
main { overflow-x: auto; }
ul { padding-left: 1.2em; margin: 0.2em 0; }
.oculta { display: none; }
footer { color: #666; font-size: 0.85em; margin-top: 1em; }
@media (max-width: 480px) {
  body { margin: 0.3em; }
  table { font-size: 0.8em; }
  th, td { padding: 0.15em 0.2em; }
}
)";

const char* const kPaginaJs = R"('use strict';
// Text only: nothing received is ever read as markup.
function celula(linha, texto, classe) {
  const td = document.createElement('td');
  td.textContent = texto;
  if (classe) td.className = classe;
  linha.appendChild(td);
}

function mostra(e) {
  const conectados = e.terminais.filter(t => t.conectado).length;
  document.getElementById('resumo').textContent =
    conectados + ' de ' + e.terminais.length + ' terminais conectados' +
    (e.escutando ? '' : ' \u2014 comunica\u00e7\u00e3o parada');
  const saude = document.getElementById('saude');
  saude.textContent = e.ok ? 'Receptor em funcionamento' : 'Problema: ' + e.motivo;
  saude.className = e.ok ? 'ok' : 'falha';

  const corpo = document.querySelector('#terminais tbody');
  corpo.replaceChildren();
  for (const t of e.terminais) {
    const tr = document.createElement('tr');
    if (!t.conectado) tr.className = 'ausente';
    celula(tr, t.numero);
    celula(tr, t.ip);
    celula(tr, t.conectado ? 'Conectado' : 'Desconectado');
    celula(tr, t.desde);
    celula(tr, t.ultima);
    celula(tr, String(t.liberados), 'numero');
    celula(tr, String(t.bloqueados), 'numero');
    corpo.appendChild(tr);
  }

  document.getElementById('tituloNoite').textContent =
    'Noite de ' + e.noite + ': ' + e.linhas + (e.linhas === 1 ? ' registro' : ' registros');
  const contagens = document.getElementById('contagens');
  contagens.replaceChildren();
  for (const [estado, n] of Object.entries(e.contagens)) {
    const li = document.createElement('li');
    li.textContent = estado + ': ' + n;
    contagens.appendChild(li);
  }

  for (const th of document.querySelectorAll('#ultimas .comanda'))
    th.classList.toggle('oculta', !e.comandas);
  const ultimas = document.querySelector('#ultimas tbody');
  ultimas.replaceChildren();
  for (const l of e.ultimas) {
    const tr = document.createElement('tr');
    celula(tr, l.dataHora);
    celula(tr, l.terminal);
    celula(tr, l.estado);
    if (e.comandas) celula(tr, l.comanda);
    ultimas.appendChild(tr);
  }
  document.getElementById('atualizado').textContent =
    'Atualizado \u00e0s ' + new Date().toLocaleTimeString('pt-BR');
}

async function atualiza() {
  try {
    const r = await fetch('/estado.json', {cache: 'no-store'});
    if (!r.ok) throw new Error('HTTP ' + r.status);
    mostra(await r.json());
  } catch (erro) {
    const saude = document.getElementById('saude');
    saude.textContent = 'Sem resposta do receptor (' + erro.message + ')';
    saude.className = 'falha';
  }
  setTimeout(atualiza, 2000);
}
atualiza();
)";

}  // namespace lumora
