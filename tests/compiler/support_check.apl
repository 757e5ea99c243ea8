GLOBAL←2.5 3.5
NESTED←'xy' (1 2 3)
R←⎕FX 'Z←A DEMO B;I;J;K;V;X' '⎕←''start''' '(I J K)←1 2 3' '⎕←I+J×K' 'V←2 3⍴⍳6' '(1 0 1 0 1 0/,V)←7 8 9' '⎕←V' '⍞←''half ''' '⎕←''line''' '{⍺K←2 2⍴⍳4: ⎕←⍺K×10}' '{⍎B: ⎕←''one'' : ⎕←''two'' : ⎕←''other''}' 'X←GLOBAL,⊂NESTED' '⎕←⍴X' '⎕←X' 'Z←A,B'
